// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "platform/tcf/Token.h"

namespace hil::tcf {

/// The client connection that delivered a command; the only way back to that client.
class ICommandChannel {
public:
    virtual ~ICommandChannel() = default;
    /// The id of the client connection; unique while the back-end runs, never 0.
    virtual int getChannelId() const = 0;
    /// Sends the one final reply of the command `token`: an "R" message with these values, each
    /// a JSON text; an empty value is written as an empty field, which clients read as null.
    /// Taken by value: a channel may write a large value as it is, without copying it.
    virtual void sendReply(const Token& token, std::vector<std::string> values) = 0;
    /// Sends a progress report ("P" message) for the command `token`, ahead of its reply.
    virtual void sendProgress(const Token& token, const std::vector<std::string>& values) = 0;
};

} // namespace hil::tcf
