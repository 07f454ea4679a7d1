// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <stdexcept>
#include <string>

namespace hil::tcf {

/// An error raised by the TCF framework or by a driver; the command boundary reports its message.
class GenericError : public std::runtime_error {
public:
    explicit GenericError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace hil::tcf
