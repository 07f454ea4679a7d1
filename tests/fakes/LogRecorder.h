// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/Message.h>

#include "platform/common/BackendLogger.h"

namespace hil::fakes {

/// Captures the lines the back-end logs, as "category|text", with a chosen log mask; restores the
/// mask and the channel afterwards.
class LogRecorder {
public:
    explicit LogRecorder(unsigned mask = LogMask::Debug | LogMask::Info | LogMask::Error)
        : previousMask_(gLogMask.exchange(mask)), channel_(new Recorder)
    {
        BackendLogger::setChannel(Poco::AutoPtr<Poco::Channel>(channel_));
        BackendLogger::enableCategories("");
    }
    ~LogRecorder()
    {
        BackendLogger::setChannel({});
        BackendLogger::enableCategories("");
        gLogMask = previousMask_;
    }
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    std::vector<std::string> lines() const { return channel_->lines(); }
    /// The Poco priority of each line, in order.
    std::vector<Poco::Message::Priority> priorities() const { return channel_->priorities(); }

private:
    class Recorder : public Poco::Channel {
    public:
        void log(const Poco::Message& message) override
        {
            std::lock_guard lock(mutex_);
            std::string category = message.getSource() == "hil" ? "" : message.getSource().substr(4);
            lines_.push_back(category + "|" + message.getText());
            priorities_.push_back(message.getPriority());
        }
        std::vector<std::string> lines() const
        {
            std::lock_guard lock(mutex_);
            return lines_;
        }
        std::vector<Poco::Message::Priority> priorities() const
        {
            std::lock_guard lock(mutex_);
            return priorities_;
        }

    private:
        mutable std::mutex mutex_;
        std::vector<std::string> lines_;
        std::vector<Poco::Message::Priority> priorities_;
    };

    unsigned previousMask_;
    Poco::AutoPtr<Recorder> channel_;
};

} // namespace hil::fakes
