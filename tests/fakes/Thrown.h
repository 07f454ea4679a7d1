// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>

namespace hil::fakes {

/// The `Error` that `call` throws, or none when it returns.
template <class Error, class Call>
std::optional<Error> thrown(const Call& call)
{
    try {
        call();
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

/// The text of the `Error` that `call` throws, or "(nothing thrown)" when it returns.
template <class Error, class Call>
std::string errorText(const Call& call)
{
    const auto error = thrown<Error>(call);
    return error ? error->what() : "(nothing thrown)";
}

} // namespace hil::fakes
