#include "core/frame/CommandArguments.h"

#include <limits>

#include <boost/json/parse.hpp>

#include "core/frame/ErrorDescr.h"

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

boost::json::value CommandArguments::value(std::size_t index) const
{
    boost::system::error_code error;
    boost::json::value parsed = boost::json::parse(rawText(index), error);
    return error ? boost::json::value() : parsed;
}

std::string CommandArguments::string(std::size_t index) const
{
    const boost::json::value parsed = value(index);
    if (!parsed.is_string())
        throwArgumentError();
    const auto& text = parsed.get_string();
    return std::string(text.data(), text.size());
}

bool CommandArguments::boolean(std::size_t index) const
{
    const boost::json::value parsed = value(index);
    if (!parsed.is_bool())
        throwArgumentError();
    return parsed.get_bool();
}

std::int64_t CommandArguments::int64(std::size_t index) const
{
    const boost::json::value parsed = value(index);
    if (parsed.is_int64())
        return parsed.get_int64();
    // The parser stores only integers above the int64 range as uint64, so those never fit.
    throwArgumentError();
}

std::int32_t CommandArguments::int32(std::size_t index) const
{
    const std::int64_t wide = int64(index);
    if (wide < std::numeric_limits<std::int32_t>::min() || wide > std::numeric_limits<std::int32_t>::max())
        throwArgumentError();
    return static_cast<std::int32_t>(wide);
}

std::uint64_t CommandArguments::uint64(std::size_t index) const
{
    const boost::json::value parsed = value(index);
    if (parsed.is_uint64())
        return parsed.get_uint64();
    if (parsed.is_int64() && parsed.get_int64() >= 0)
        return static_cast<std::uint64_t>(parsed.get_int64());
    throwArgumentError();
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
    boost::json::value parsed = value(index);
    if (!parsed.is_array())
        throwArgumentError();
    return std::move(parsed.get_array());
}

std::string CommandArguments::stringUnchecked(std::size_t index) const
{
    const boost::json::value parsed = value(index);
    const auto& text = parsed.as_string();
    return std::string(text.data(), text.size());
}

} // namespace hil
