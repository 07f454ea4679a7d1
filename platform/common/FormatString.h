// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdarg>
#include <string>

namespace hil {

/// printf-style formatting into a std::string of any length. Pass std::string arguments through
/// `c_str()`; the compiler checks the arguments against the format.
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// The va_list form, for other variadic functions that format.
std::string vFormatString(const char* format, va_list args);

} // namespace hil
