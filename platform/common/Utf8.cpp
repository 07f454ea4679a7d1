// SPDX-License-Identifier: Apache-2.0
#include "platform/common/Utf8.h"

#include <cstdint>

namespace hil {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

/// The length of the well-formed sequence at `at`, or 0 when none starts there; `bad` is then
/// how many bytes the one replacement stands for (the maximal prefix of a sequence).
std::size_t wellFormedLength(std::string_view text, std::size_t at, std::size_t& bad)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    bad = 1;
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    // The range of the second byte depends on the lead: it excludes overlong forms, surrogates
    // and code points above U+10FFFF.
    std::uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= text.size())
            return 0;
        const std::uint8_t next = byte(at + i);
        const bool inRange = i == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
        if (!inRange)
            return 0;
        bad = i + 1;
    }
    return length;
}

} // namespace

std::string validUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::size_t bad = 1;
        if (const std::size_t length = wellFormedLength(text, at, bad)) {
            out.append(text.substr(at, length));
            at += length;
        } else {
            out.append(kReplacement);
            at += bad;
        }
    }
    return out;
}

} // namespace hil
