// SPDX-License-Identifier: Apache-2.0
#include "platform/common/TextNumbers.h"

#include <charconv>

namespace hil {

std::optional<std::uint64_t> parseDigits(std::string_view digits, int base)
{
    // from_chars reads no sign into an unsigned type and refuses an empty text.
    std::uint64_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, base);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::optional<std::uint64_t> parseUnsigned(std::string_view text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return parseDigits(text.substr(2), 16);
    return parseDigits(text, 10);
}

std::optional<HostPort> parseHostPort(std::string_view text, bool portZeroAllowed)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    const auto port = parseDigits(text.substr(colon + 1), 10);
    if (!port || *port > 65535 || (*port == 0 && !portZeroAllowed))
        return std::nullopt;
    return HostPort{std::string(text.substr(0, colon)), static_cast<std::uint16_t>(*port)};
}

} // namespace hil
