// SPDX-License-Identifier: Apache-2.0
#include "core/devicedescription/DescriptionNumbers.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace hil::description {

std::uint64_t parseNumber(const std::string& text)
{
    return std::strtoull(text.c_str(), nullptr, 0);
}

std::uint32_t parseUnsigned32(const std::string& text)
{
    std::size_t at = text.find_first_not_of(" \t\n\r\f\v");
    if (at == std::string::npos)
        return 0;
    const bool negative = text[at] == '-';
    if (text[at] == '-' || text[at] == '+')
        ++at;
    // A second sign is not a number.
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        return 0;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(text.c_str() + at, nullptr, 0);
    if (errno == ERANGE || magnitude > std::numeric_limits<std::uint32_t>::max())
        return std::numeric_limits<std::uint32_t>::max();
    const auto value = static_cast<std::uint32_t>(magnitude);
    return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

std::int32_t parseSigned32(const std::string& text)
{
    const long long value = std::strtoll(text.c_str(), nullptr, 0);
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

double parseDecimal(const std::string& text)
{
    // "inf", "nan" and 1e400 read as a missing value: they have no JSON form to be replied in.
    const double value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value) ? value : 0.0;
}

} // namespace hil::description
