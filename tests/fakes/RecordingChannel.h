// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "core/interfaces/ICommandServer.h"
#include "platform/tcf/ICommandChannel.h"
#include "platform/tcf/IIntermediateResult.h"

namespace hil::fakes {

/// A command channel that keeps every reply and progress report as the exact texts sent.
class RecordingChannel : public tcf::ICommandChannel {
public:
    struct Sent {
        tcf::Token token;
        std::vector<std::string> values;
    };

    explicit RecordingChannel(int channelId = 1) : channelId_(channelId) {}

    int getChannelId() const override { return channelId_; }
    void sendReply(const tcf::Token& token, std::vector<std::string> values) override
    {
        std::lock_guard lock(mutex_);
        replies.push_back({token, std::move(values)});
    }
    void sendProgress(const tcf::Token& token, const std::vector<std::string>& values) override
    {
        std::lock_guard lock(mutex_);
        progress.push_back({token, values});
    }

    std::vector<Sent> replies;
    std::vector<Sent> progress;

private:
    int channelId_;
    std::mutex mutex_;
};

/// A progress reporter that keeps each report's values.
class RecordingProgress : public tcf::IIntermediateResult {
public:
    void sendIntermediateResult(const std::vector<std::string>& values) override { reports.push_back(values); }
    std::vector<std::vector<std::string>> reports;
};

/// Runs one command on `server` through `channel` and returns the values of its one reply.
/// Fails the calling test when the command does not reply exactly once.
std::vector<std::string> call(ICommandServer& server, RecordingChannel& channel, const std::string& command,
                              const std::vector<std::string>& arguments = {});

/// A table row of command tests: a command, its arguments and the values its reply must have.
struct CommandCase {
    std::string name;
    std::string command;
    std::vector<std::string> arguments;
    std::string reply;
    friend void PrintTo(const CommandCase& value, std::ostream* out) { *out << value.name; }
};

} // namespace hil::fakes
