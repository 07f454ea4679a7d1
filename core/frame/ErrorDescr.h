// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <exception>
#include <string>
#include <vector>

namespace hil {

/// The TCF error object a command server throws and replies. `what` returns its JSON text.
///
/// A default-constructed `ErrorDescr` (code 0) renders as the empty text, the success value of
/// an error slot.
class ErrorDescr : public std::exception {
public:
    ErrorDescr() = default;
    /// An error with every other field 0 or empty.
    ErrorDescr(int code, std::string service, std::string format);

    const char* what() const noexcept override { return json_.c_str(); }
    /// Renders the fields again (they may have been changed) and returns the text.
    const std::string& toJson();

    std::string format;
    int code = 0;
    int time = 0;
    std::string service;
    std::vector<std::string> params;
    int severity = 0;
    int altCode = 0;
    std::string altOrg;

private:
    std::string render() const;
    std::string json_;
};

/// Error codes of the command frame.
namespace ErrorDescrCode {
constexpr int Other = 1;           ///< anything thrown that is not an `ErrorDescr` or a status
constexpr int InvalidArguments = 3; ///< wrong argument count or kind, unknown command
constexpr int InvalidDataSize = 15; ///< a slice or a data length that does not fit
} // namespace ErrorDescrCode

} // namespace hil
