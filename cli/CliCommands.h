// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <boost/json/value.hpp>

#include "platform/common/Errors.h"
#include "platform/common/JsonText.h"
#include "platform/tcf/TcfClient.h"

namespace hil::cli {

class SymbolTable;

/// Exit codes of hilcore-cli.
namespace ExitCode {
constexpr int Ok = 0;
constexpr int ErrorReply = 1;   ///< the back-end answered with an error, or a file this side uses failed
constexpr int Usage = 2;        ///< the command line was wrong
constexpr int Connection = 3;   ///< the back-end could not be reached or went away
constexpr int Interrupted = 130; ///< Ctrl-C or SIGTERM, as shells report a process they stopped
} // namespace ExitCode

/// What a verb works with.
struct CliContext {
    tcf::TcfClient& client;
    bool json = false;
    std::ostream& out;
    std::ostream& err;
    /// Names a verb leaves for later lines of a shell ("tool" is the id of the last tool set
    /// up); a shell word "$NAME" stands for its value.
    std::map<std::string, std::string> variables{};
    /// Where the verb's line came from ("line 3: " in a script); errors start with it.
    std::string location{};
    /// With --json, what the verb running now leaves for its one JSON object: its data (see
    /// `setData`), the text of its errors, and the code of the back-end's error report.
    std::optional<boost::json::value> data{};
    std::ostringstream errors{};
    std::optional<std::int64_t> replyCode{};
    /// Verbs run so far: a verb that ran others (shell, run, tour) leaves the printing to them.
    int verbsRun = 0;
    /// True while shell, run or tour runs lines over this connection: what a verb leaves with the
    /// client (a breakpoint) lives on to the next line. False for a verb run alone.
    bool session = false;
    /// The symbols of the ELF file the last `--elf FILE` named: later lines name places with them.
    std::shared_ptr<const SymbolTable> symbols{};
};

/// The error stream, with "error: " and the line's place already written; with --json, the
/// text of the verb's error object.
std::ostream& errorOut(CliContext& context);

/// Reports a failure outside any verb (a shell line that cannot be read, a back-end that cannot
/// be reached) as `runVerb` reports a verb's; returns `exitCode`.
int reportFailure(CliContext& context, int exitCode, const std::string& message);

/// With --json, makes `data` the verb's result; without, does nothing (the verb prints text).
void setData(CliContext& context, boost::json::value data);

/// Thrown by a verb when the back-end answered a command it needed with an error; the text says
/// which command and why.
class ReplyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Verb {
    std::string arguments;
    std::string help;
    std::function<int(CliContext&, const std::vector<std::string>&)> run;
    /// False for the verbs that talk to no back-end ("help"): they run without connecting.
    bool needsConnection = true;
    /// More help, for the verbs with actions or parts of their own.
    std::function<std::string()> details{};
};

using VerbTable = std::map<std::string, Verb>;

/// Every verb, by name.
const VerbTable& verbTable();

/// The command line's help: options, verbs, exit codes.
std::string usageText();

/// The verb named `name`; throws `UsageError` naming the verbs closest to it when there is none.
const Verb& verbNamed(const std::string& name);

/// One verb's help: how to call it, what it does, and its actions or parts where it has them.
std::string verbHelp(const std::string& name);

/// The verbs that run verbs over one connection: shell, run.
void addShellVerbs(VerbTable& table);
/// The tour.
void addTourVerb(VerbTable& table);
/// Listing the back-ends that answer discovery: discover.
void addDiscoverVerb(VerbTable& table);
/// Loading a firmware file: load.
void addLoadVerb(VerbTable& table);
/// A GDB server for a tool's target: gdbserver.
void addGdbServerVerb(VerbTable& table);
/// The Tool verbs: tools, attached, setup, teardown, tool, upgrade, poll.
void addToolVerbs(VerbTable& table);
/// Adds "target" and "targets".
void addTargetVerbs(VerbTable& table);
/// `arguments` with the names of the targets the back-end keeps put for the ids they stand for:
/// NAME alone for its tool's id where `verb` takes a tool, else for its device's; NAME.rest for
/// the id below. Unchanged when the back-end keeps none.
std::vector<std::string> withTargetNames(CliContext& context, const std::string& verb,
                                         const std::vector<std::string>& arguments);
/// The Device verbs: device, session, erase.
void addDeviceVerbs(VerbTable& table);
/// The Memory and Registers verbs: mem, regs, reg.
void addMemoryVerbs(VerbTable& table);
/// The Stimuli verb: stimuli.
void addStimuliVerbs(VerbTable& table);
/// The verbs of the "Packs" service: devices, peripheral.
void addPackVerbs(VerbTable& table);
/// The verbs of "RunControl", "Breakpoints" and "StackTrace": halt, resume, step, reset, state,
/// wait, break, watch-data, delete, breaks.
void addRunControlVerbs(VerbTable& table);

/// The one error boundary of the verbs: runs the verb `name` (or, for the one argument "--help",
/// prints its help), and turns an unknown verb, a wrong command line, an error reply, a lost
/// connection and a reply of a shape no verb expects into "error: ..." on the error stream and
/// their exit codes. With --json it prints the verb's one object on the output instead:
/// {"data": ...} on success, {"data": ..., "error": {"code", "message"}} otherwise, where the
/// code is the back-end's error code when it gave one, else the exit code.
int runVerb(CliContext& context, const std::string& name, const std::vector<std::string>& arguments);

/// The data values of a reply that must succeed (the error slot first, then at least one value);
/// throws `ReplyError` otherwise.
boost::json::array callForValues(CliContext& context, const std::string& service, const std::string& command,
                                 const std::vector<std::string>& arguments);

/// The connection types of the tools attached now, in the back-end's order.
std::vector<std::string> attachedConnectionTypes(CliContext& context);

/// What a tool is set up from: types in full, properties with the files they name made absolute
/// (the back-end reads them from its own folder, not the CLI's).
struct ToolSetup {
    std::string toolType;
    std::string connectionType;
    boost::json::object properties;
};

/// Reads TYPE [CONNECTION-TYPE] [PROPERTIES-JSON] (short type names as `setup` takes them) for
/// `verb`; throws `UsageError`.
ToolSetup readToolSetup(CliContext& context, const std::vector<std::string>& arguments, const std::string& verb);

/// How `runShell` treats its lines: a script stops at its first failure, unless told to keep
/// going; a person at a prompt goes on; a tour prints each step ("$ LINE", with its variables)
/// and its comments, and stops at its first failure. Every mode stops when the back-end goes
/// away or Ctrl-C stopped a line.
enum class ShellMode { Script, ScriptKeepingGoing, Interactive, Tour };

/// Runs one verb line by line from `input` over the one connection, so that what a line sets up
/// lives until the input ends; "quit" and "exit" end it early. A script's errors name `source`
/// (a file, when it is not empty) and the line. See the "shell" help text.
int runShell(CliContext& context, std::istream& input, ShellMode mode, const std::string& source = "");

/// Splits a line as a shell would: blanks separate words; single quotes keep text as it is;
/// double quotes keep text but let backslash escape the next character; a '#' that starts a word
/// starts a comment to the end of the line. Throws `UsageError` for an unterminated quote.
std::vector<std::string> splitWords(const std::string& line);

/// `word` with each "$NAME" (letters, digits, '_') replaced by the variable's value; a lone "$"
/// stays. Throws `UsageError` for a variable that is not set.
std::string substituteVariables(const std::string& word, const std::map<std::string, std::string>& variables);

/// Throws `UsageError` ("VERB needs USAGE") unless there are between `least` and `most` arguments.
void requireArguments(const std::vector<std::string>& arguments, std::size_t least, std::size_t most,
                      const std::string& verb, const std::string& usage);

/// `intro`, then a line per entry of `table` (a map from name to entries with `arguments` and
/// `help`): "NAME ARGUMENTS: HELP".
template <class Table>
std::string tableUsage(const std::string& intro, const Table& table)
{
    std::string text = intro;
    for (const auto& [name, entry] : table)
        text += "\n    " + name + (entry.arguments.empty() ? "" : " " + entry.arguments) + ": " + entry.help;
    return text;
}

/// The entry named `name` of a verb's table of actions (`mem read`, `tool ID connect`, ...);
/// throws `UsageError` ("VERB has no WHAT NAME; it needs USAGE") when there is none.
template <class Table>
const typename Table::mapped_type& actionOf(const Table& table, const std::string& name, const std::string& verb,
                                            const std::string& what, const std::string& usage)
{
    const auto entry = table.find(name);
    if (entry == table.end())
        throw UsageError(verb + " has no " + what + " " + name + "; it needs " + usage);
    return entry->second;
}

/// Parses JSON text; null when it is not JSON (such as the bare word NaN).
boost::json::value parseOrNull(const std::string& text);

/// Shows the values of a reply in human form; `texts` are the values as they arrived.
using HumanPrinter = std::function<void(std::ostream& out, const boost::json::array& values,
                                        const std::vector<std::string>& texts)>;

/// Prints a reply: error reports as "error: ..." on the error stream, then, with --json, the
/// values that are not the error slot as the verb's data (one value as itself, several as an
/// array); otherwise through `human`, or each non-null value pretty-printed.
/// Returns `ExitCode::ErrorReply` when the reply was not recognised or carried an error.
int printReply(CliContext& context, const tcf::TcfClient::Reply& reply, const std::string& what,
               const HumanPrinter& human = {});

/// Sends a command and prints its reply with `printReply`.
/// Throws `ReplyError` when the back-end does not offer `service`.
void requireService(CliContext& context, const std::string& service, const std::string& verb);
/// The values of a reply whose first value is its error slot; throws `ReplyError` for an error
/// report ("VERB: TEXT"). Unlike `callForValues` it takes a reply of the error slot alone.
boost::json::array checkedValues(CliContext& context, const tcf::TcfClient::Reply& reply, const std::string& what,
                                 const std::string& verb);
/// Calls `service` `command` and returns `checkedValues` of its reply.
boost::json::array callChecked(CliContext& context, const std::string& service, const std::string& command,
                               const std::vector<std::string>& arguments, const std::string& verb);

int callAndPrint(CliContext& context, const std::string& service, const std::string& command,
                 const std::vector<std::string>& arguments, const HumanPrinter& human = {});

/// The bytes as lower-case hex digits, two per byte.
std::string hexOf(const std::vector<std::uint8_t>& bytes);

/// The bytes an even number of hex digits spell; throws `UsageError` naming `verb` otherwise.
std::vector<std::uint8_t> bytesOfHex(const std::string& hex, const std::string& verb);

/// A whole number written in decimal or, after "0x", in hex; throws `UsageError` ("VERB needs
/// WHAT as a number") otherwise.
std::uint64_t numberArgument(const std::string& text, const std::string& verb, const std::string& what);

/// Prints one event as `watch` does: with `json`, the event as it came, one JSON object
/// {"service", "event", "arguments"}; otherwise `stamp` (unless empty), "SERVICE EVENT" and its
/// arguments, in a readable form for the events that have one ("Message message": "[SOURCE]
/// TEXT  (CONTEXT-ID)"; "Device targetEvent": "ID bytes HEX").
void printEvent(std::ostream& out, bool json, const std::string& stamp, const std::string& service,
                const std::string& name, const std::vector<std::string>& arguments);

/// The local time of day, "HH:MM:SS.mmm".
std::string clockTime(std::chrono::system_clock::time_point when);

/// A string value as it is, any other value as JSON text.
std::string textOf(const boost::json::value& value);
enum class Align { Left, Right };
/// `text` padded with blanks to `width` characters. Formatting goes through texts like this one,
/// never through the stream's state, which would leak from one printer into the next.
std::string padded(std::string text, std::size_t width, Align align = Align::Left);
/// "0x" and upper-case hex digits, at least `digits` of them.
std::string hexText(std::uint64_t number, int digits = 0);
/// A JSON number as an unsigned number; 0 for anything else.
std::uint64_t numberOf(const boost::json::value& value);
/// The bytes of a Base64 JSON string; none for anything else.
std::vector<std::uint8_t> bytesOf(const boost::json::value& base64);

/// The number the bytes hold (at most the first 8), in the given byte order.
std::uint64_t numberOfBytes(const std::vector<std::uint8_t>& bytes, bool bigEndian);


/// JSON with two-space indentation, members in their order.
std::string prettyJson(const boost::json::value& value);

/// The error message of a TCF error report ("Format", with "Code" and "Service"), or the empty
/// text when `value` is not one. A report that says no more than its code gets the meaning of
/// the code, naming `what` ("SERVICE COMMAND") where it helps.
std::string errorReportMessage(const boost::json::value& value, const std::string& what = "");

} // namespace hil::cli
