// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace hil::tcf {

/// Reports results of a command that is still running, before its final reply.
class IIntermediateResult {
public:
    virtual ~IIntermediateResult() = default;
    /// Sends one intermediate result: a list of JSON texts.
    virtual void sendIntermediateResult(const std::vector<std::string>& values) = 0;
};

} // namespace hil::tcf
