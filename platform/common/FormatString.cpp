// SPDX-License-Identifier: Apache-2.0
#include "platform/common/FormatString.h"

#include <cstdio>

namespace hil {

std::string FormatString(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vFormatString(format, args);
    va_end(args);
    return text;
}

std::string vFormatString(const char* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    // vsnprintf writes the terminating zero too; std::string owns one more byte for it.
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

} // namespace hil
