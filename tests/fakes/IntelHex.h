// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace hil::fakes {

/// One Intel HEX record of `type` at `offset`, with its checksum: what the tests build images of.
inline std::string intelHexRecord(std::uint8_t type, std::uint16_t offset, const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
                                    static_cast<std::uint8_t>(offset), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (const auto byte : bytes)
        sum = static_cast<std::uint8_t>(sum + byte);
    bytes.push_back(static_cast<std::uint8_t>(-sum));
    std::string text = ":";
    for (const auto byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text + "\r\n";
}

/// The end-of-file record.
inline const std::string kIntelHexEnd = ":00000001FF\n";

} // namespace hil::fakes
