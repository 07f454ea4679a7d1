// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hil {

/// The fields of the TCF error report object. Both `Status` and the core's `ErrorDescr` render
/// through this one type, so that every error a client sees has the same shape.
struct ErrorReport {
    std::int64_t code = 0;
    std::int64_t time = 0;
    std::string service;
    std::string format;
    std::vector<std::string> params;
    std::int64_t severity = 0;
    std::int64_t altCode = 0;
    std::string altOrg;

    /// The empty text when `code` is 0. Otherwise a compact JSON object with the members "Code",
    /// "Time", "Service", "Format", "Params", "Severity", "AltCode", "AltOrg" in that order; every
    /// member but "Code" is left out when it is 0 or empty. Texts that are not UTF-8 (a client's
    /// bytes echoed into a message) are written with U+FFFD in place of the bad bytes.
    std::string toJson() const;
};

} // namespace hil
