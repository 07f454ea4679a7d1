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

    /// The parsed argument; null when it is not JSON.
    boost::json::value value(std::size_t index) const;

    std::string string(std::size_t index) const;
    bool boolean(std::size_t index) const;
    std::int32_t int32(std::size_t index) const;
    std::int64_t int64(std::size_t index) const;
    /// A non-negative integer up to 2^64 - 1.
    std::uint64_t uint64(std::size_t index) const;
    boost::json::object object(std::size_t index) const;
    boost::json::array array(std::size_t index) const;

    /// Reads a string without the kind check: another kind throws the JSON library's own error,
    /// which the command boundary reports with code 1 and the library's message.
    std::string stringUnchecked(std::size_t index) const;

private:
    const std::vector<std::string>& texts_;
};

/// Throws the argument error {"Code":3}.
[[noreturn]] void throwArgumentError();

} // namespace hil
