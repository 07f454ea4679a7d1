// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tcf/Protocol.h"

namespace hil::fakes {

/// Captures every event sent through `Protocol::sendEvent` while it is installed.
class RecordingEventSink : public tcf::IEventSink {
public:
    struct Event {
        std::string service;
        std::string name;
        std::vector<std::string> arguments;
    };

    void sendEvent(const std::string& service, const std::string& name,
                   const std::vector<std::string>& arguments) override
    {
        {
            std::lock_guard lock(mutex_);
            events_.push_back({service, name, arguments});
        }
        arrived_.notify_all();
    }

    /// Waits until at least `count` events arrived or `timeout` passed; returns all of them.
    std::vector<Event> waitForEvents(std::size_t count, std::chrono::milliseconds timeout) const
    {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
        return events_;
    }

    std::vector<Event> events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<Event> events_;
};

/// Installs a fresh recorder for the lifetime of this object, then puts back what was there.
class ScopedEventRecorder {
public:
    ScopedEventRecorder() : previous_(tcf::Protocol::setEventSink(sink_)) {}
    ~ScopedEventRecorder() { tcf::Protocol::setEventSink(previous_); }
    ScopedEventRecorder(const ScopedEventRecorder&) = delete;
    ScopedEventRecorder& operator=(const ScopedEventRecorder&) = delete;

    std::vector<RecordingEventSink::Event> events() const { return sink_->events(); }
    /// The events of that name, in the order they came.
    std::vector<RecordingEventSink::Event> eventsNamed(const std::string& name) const
    {
        std::vector<RecordingEventSink::Event> named;
        for (auto& event : sink_->events())
            if (event.name == name)
                named.push_back(std::move(event));
        return named;
    }
    /// Each event (of that name, when one is given) as "SERVICE NAME ARGUMENT...", one line each.
    std::vector<std::string> lines(const std::string& name = "") const
    {
        std::vector<std::string> lines;
        for (const auto& event : sink_->events())
            if (name.empty() || event.name == name) {
                lines.push_back(event.service + " " + event.name);
                for (const auto& argument : event.arguments)
                    lines.back() += " " + argument;
            }
        return lines;
    }
    std::vector<RecordingEventSink::Event> waitForEvents(std::size_t count,
                                                         std::chrono::milliseconds timeout = std::chrono::seconds(5)) const
    {
        return sink_->waitForEvents(count, timeout);
    }

private:
    std::shared_ptr<RecordingEventSink> sink_ = std::make_shared<RecordingEventSink>();
    std::shared_ptr<tcf::IEventSink> previous_;
};

} // namespace hil::fakes
