// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/json/value.hpp>

namespace hil {

/// The one decoder of command arguments: each argument is one JSON text.
///
/// Every typed read fails with `ErrorDescr` code 3 ({"Code":3}) when the argument is missing, is
/// not JSON (it then reads as null), or is of another kind. Integer reads take JSON integers only
/// (1.0 is refused) and refuse values outside the target type.
class CommandArguments {
public:
    /// Views `texts`; they must outlive this object.
    explicit CommandArguments(const std::vector<std::string>& texts) : texts_(texts) {}

    std::size_t count() const { return texts_.size(); }
    const std::vector<std::string>& texts() const { return texts_; }
    /// The argument as it arrived, for the few checks made on the text itself.
    const std::string& rawText(std::size_t index) const;

    /// Fails with code 3 unless there are exactly `expected` arguments.
    void requireCount(std::size_t expected) const;

    /// The parsed argument; null when it is not JSON or holds a number no double can hold.
    boost::json::value value(std::size_t index) const;

    std::string string(std::size_t index) const;
    bool boolean(std::size_t index) const;
    std::int32_t int32(std::size_t index) const;
    std::int64_t int64(std::size_t index) const;
    /// A non-negative integer up to 2^64 - 1.
    std::uint64_t uint64(std::size_t index) const;
    /// Any integer as 64 bits: a negative one wraps around (-1 reads as 2^64 - 1).
    std::uint64_t bits64(std::size_t index) const;
    /// Any integer cut to its low 32 bits, read as signed (2^31 reads as -2^31).
    std::int32_t truncatedInt32(std::size_t index) const;
    boost::json::object object(std::size_t index) const;
    boost::json::array array(std::size_t index) const;
    /// The bytes of a Base64 string; text that is not strict Base64 fails like a wrong kind.
    std::vector<std::uint8_t> bytes(std::size_t index) const;

    /// Reads a string without the kind check: another kind throws the JSON library's own error,
    /// which the command boundary reports with code 1 and the library's message.
    std::string stringUnchecked(std::size_t index) const;

private:
    const std::vector<std::string>& texts_;
};

/// Throws the argument error {"Code":3}.
[[noreturn]] void throwArgumentError();

/// The typed reads of `CommandArguments`, for values nested inside an argument; each fails with
/// the argument error like its twin.
namespace json_read {
std::string string(const boost::json::value& value);
std::int64_t int64(const boost::json::value& value);
std::int32_t int32(const boost::json::value& value);
std::uint64_t uint64(const boost::json::value& value);
std::uint64_t bits64(const boost::json::value& value);
const boost::json::array& array(const boost::json::value& value);
} // namespace json_read

} // namespace hil
