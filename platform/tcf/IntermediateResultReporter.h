// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "platform/tcf/ICommandChannel.h"
#include "platform/tcf/IIntermediateResult.h"
#include "platform/tcf/Token.h"

namespace hil::tcf {

/// The intermediate results of one command, sent as progress messages on its channel. Lives no
/// longer than the command it was built for; the channel must outlive it.
class IntermediateResultReporter : public IIntermediateResult {
public:
    IntermediateResultReporter(ICommandChannel& channel, Token token);
    void sendIntermediateResult(const std::vector<std::string>& values) override;

private:
    ICommandChannel& channel_;
    Token token_;
};

} // namespace hil::tcf
