// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "platform/tcf/ICommandChannel.h"
#include "platform/tcf/Token.h"

namespace hil {

/// The TCF face of one service: the transport hands it every command addressed to the service.
class ICommandServer {
public:
    virtual ~ICommandServer() = default;
    /// Runs one command and sends exactly one reply on `channel`, whatever happens.
    virtual void handleCommand(tcf::ICommandChannel& channel, const tcf::Token& token, const std::string& command,
                               const std::vector<std::string>& arguments) = 0;
};

} // namespace hil
