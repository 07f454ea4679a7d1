// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hil {

/// The number `digits` writes in `base` (2 to 36), every character a digit of it: no sign, no
/// space, no prefix. Nothing for an empty text, another character, or more than 64 bits.
std::optional<std::uint64_t> parseDigits(std::string_view digits, int base);

/// A whole number as people and programs write one: decimal, or hexadecimal after "0x" or "0X".
/// Every character is used; a leading zero is still decimal (a number typed "010" is ten, not
/// eight). Nothing for anything else, a sign or a space included.
std::optional<std::uint64_t> parseUnsigned(std::string_view text);

/// "HOST:PORT", split at the last colon: the host (not empty) and a decimal port from 1 to
/// 65535, or from 0 when `portZeroAllowed`. Nothing for anything else.
struct HostPort {
    std::string host;
    std::uint16_t port = 0;
};
std::optional<HostPort> parseHostPort(std::string_view text, bool portZeroAllowed = false);

} // namespace hil
