// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

namespace hil::description {

// How the texts of a description file become numbers. Every integer takes its base from its
// prefix (0x or 0X hexadecimal, a leading 0 octal, else decimal), stops at the first character
// that does not fit, and reads as 0 without digits. The widths follow the 32-bit platform the
// format was made on.

/// An unsigned 64-bit number; a value beyond 64 bits saturates.
std::uint64_t parseNumber(const std::string& text);
/// The low 32 bits of `parseNumber`.
inline std::uint32_t parseLow32(const std::string& text) { return static_cast<std::uint32_t>(parseNumber(text)); }
/// An unsigned 32-bit number that saturates at 0xFFFFFFFF; a minus sign negates modulo 2^32.
std::uint32_t parseUnsigned32(const std::string& text);
/// A signed 32-bit number that saturates at the limits of its type.
std::int32_t parseSigned32(const std::string& text);
/// A decimal fraction such as "1.8"; 0 without digits, and 0 for what no double holds (1e400, "inf").
double parseDecimal(const std::string& text);
/// False only for the text "0"; every other text, the empty one and "false" included, is true.
inline bool parseFlag(const std::string& text) { return text != "0"; }

} // namespace hil::description
