// SPDX-License-Identifier: Apache-2.0
#include "platform/tcf/IntermediateResultReporter.h"

namespace hil::tcf {

IntermediateResultReporter::IntermediateResultReporter(ICommandChannel& channel, Token token)
    : channel_(channel), token_(std::move(token))
{
}

void IntermediateResultReporter::sendIntermediateResult(const std::vector<std::string>& values)
{
    channel_.sendProgress(token_, values);
}

} // namespace hil::tcf
