#pragma once

#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include <boost/json/value.hpp>

#include "platform/tcf/TcfClient.h"

namespace hil::cli {

/// Exit codes of hilcore-cli.
namespace ExitCode {
constexpr int Ok = 0;
constexpr int ErrorReply = 1;   ///< the back-end answered with an error, or did not know the command
constexpr int Usage = 2;        ///< the command line was wrong
constexpr int Connection = 3;   ///< the back-end could not be reached or went away
} // namespace ExitCode

/// What a verb works with.
struct CliContext {
    tcf::TcfClient& client;
    bool json = false;
    std::ostream& out;
    std::ostream& err;
};

/// Thrown by a verb for a wrong command line; the text says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Verb {
    std::string arguments;
    std::string help;
    std::function<int(CliContext&, const std::vector<std::string>&)> run;
};

/// Every verb, by name.
const std::map<std::string, Verb>& verbTable();

/// JSON with two-space indentation, members in their order.
std::string prettyJson(const boost::json::value& value);

/// The error message of a TCF error report ("Format", with "Code" and "Service"), or the empty
/// text when `value` is not one.
std::string errorReportMessage(const boost::json::value& value);

} // namespace hil::cli
