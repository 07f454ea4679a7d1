// SPDX-License-Identifier: Apache-2.0
#include "core/frame/CommandArguments.h"

#include <cmath>
#include <limits>

#include <boost/json/parse.hpp>

#include "core/frame/ErrorDescr.h"
#include "platform/common/Base64.h"

namespace hil {

void throwArgumentError() { throw ErrorDescr(ErrorDescrCode::InvalidArguments, "", ""); }

const std::string& CommandArguments::rawText(std::size_t index) const
{
    if (index >= texts_.size())
        throwArgumentError();
    return texts_[index];
}

void CommandArguments::requireCount(std::size_t expected) const
{
    if (texts_.size() != expected)
        throwArgumentError();
}

namespace {

/// True when no number in `value` is infinite or NaN. The parser turns a number too large for a
/// double (1e400) into infinity, which has no JSON form: echoed, it would make every reply and
/// event that carries it invalid JSON.
bool allNumbersFinite(const boost::json::value& value)
{
    switch (value.kind()) {
    case boost::json::kind::double_: return std::isfinite(value.get_double());
    case boost::json::kind::array:
        for (const auto& element : value.get_array())
            if (!allNumbersFinite(element))
                return false;
        return true;
    case boost::json::kind::object:
        for (const auto& member : value.get_object())
            if (!allNumbersFinite(member.value()))
                return false;
        return true;
    default: return true;
    }
}

} // namespace

boost::json::value CommandArguments::value(std::size_t index) const
{
    boost::system::error_code error;
    boost::json::value parsed = boost::json::parse(rawText(index), error);
    return error || !allNumbersFinite(parsed) ? boost::json::value() : parsed;
}

namespace json_read {

std::string string(const boost::json::value& value)
{
    if (!value.is_string())
        throwArgumentError();
    const auto& text = value.get_string();
    return std::string(text.data(), text.size());
}

std::int64_t int64(const boost::json::value& value)
{
    if (value.is_int64())
        return value.get_int64();
    // The parser stores only integers above the int64 range as uint64, so those never fit.
    throwArgumentError();
}

std::int32_t int32(const boost::json::value& value)
{
    const std::int64_t wide = int64(value);
    if (wide < std::numeric_limits<std::int32_t>::min() || wide > std::numeric_limits<std::int32_t>::max())
        throwArgumentError();
    return static_cast<std::int32_t>(wide);
}

std::uint64_t uint64(const boost::json::value& value)
{
    if (value.is_uint64())
        return value.get_uint64();
    if (value.is_int64() && value.get_int64() >= 0)
        return static_cast<std::uint64_t>(value.get_int64());
    throwArgumentError();
}

std::uint64_t bits64(const boost::json::value& value)
{
    if (value.is_uint64())
        return value.get_uint64();
    return static_cast<std::uint64_t>(int64(value));
}

const boost::json::array& array(const boost::json::value& value)
{
    if (!value.is_array())
        throwArgumentError();
    return value.get_array();
}

} // namespace json_read

std::string CommandArguments::string(std::size_t index) const { return json_read::string(value(index)); }

bool CommandArguments::boolean(std::size_t index) const
{
    const boost::json::value parsed = value(index);
    if (!parsed.is_bool())
        throwArgumentError();
    return parsed.get_bool();
}

std::int64_t CommandArguments::int64(std::size_t index) const { return json_read::int64(value(index)); }

std::int32_t CommandArguments::int32(std::size_t index) const { return json_read::int32(value(index)); }

std::uint64_t CommandArguments::uint64(std::size_t index) const { return json_read::uint64(value(index)); }

std::uint64_t CommandArguments::bits64(std::size_t index) const { return json_read::bits64(value(index)); }

std::int32_t CommandArguments::truncatedInt32(std::size_t index) const
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits64(index)));
}

boost::json::object CommandArguments::object(std::size_t index) const
{
    boost::json::value parsed = value(index);
    if (!parsed.is_object())
        throwArgumentError();
    return std::move(parsed.get_object());
}

boost::json::array CommandArguments::array(std::size_t index) const
{
    return json_read::array(value(index));
}

std::vector<std::uint8_t> CommandArguments::bytes(std::size_t index) const
{
    std::vector<std::uint8_t> decoded;
    if (!base64_decode(string(index), decoded))
        throwArgumentError();
    return decoded;
}

std::string CommandArguments::stringUnchecked(std::size_t index) const
{
    const boost::json::value parsed = value(index);
    const auto& text = parsed.as_string();
    return std::string(text.data(), text.size());
}

} // namespace hil
