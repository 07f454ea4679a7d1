// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

namespace hil {

/// The JSON text of a value, as every TCF argument, reply value and event argument travels: a
/// string comes out quoted and escaped ("a\"b"), an object or array compact.
inline std::string jsonText(const boost::json::value& value)
{
    return boost::json::serialize(value);
}

/// The JSON string of `text`: quoted and escaped.
inline std::string jsonText(std::string_view text)
{
    return boost::json::serialize(boost::json::value(text));
}
inline std::string jsonText(const std::string& text)
{
    return jsonText(std::string_view(text));
}
inline std::string jsonText(const char* text)
{
    return jsonText(std::string_view(text));
}

} // namespace hil
