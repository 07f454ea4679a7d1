#include "cli/CliCommands.h"

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <unistd.h>

#include <boost/json.hpp>

#include "platform/common/Base64.h"
#include "platform/common/ErrorCode.h"
#include "platform/common/FormatString.h"
#include "platform/common/StopSignals.h"

namespace hil::cli {

boost::json::value parseOrNull(const std::string& text)
{
    boost::system::error_code error;
    auto value = boost::json::parse(text, error);
    return error ? boost::json::value() : value;
}


void requireArguments(const std::vector<std::string>& arguments, std::size_t least, std::size_t most,
                      const std::string& verb, const std::string& usage)
{
    if (arguments.size() < least || arguments.size() > most)
        throw UsageError(verb + " needs " + usage);
}

namespace {

void appendPretty(const boost::json::value& value, int indent, std::string& out)
{
    const std::string pad(static_cast<std::size_t>(indent) * 2, ' ');
    const std::string innerPad = pad + "  ";
    if (value.is_object() && !value.get_object().empty()) {
        out += "{\n";
        bool first = true;
        for (const auto& [key, member] : value.get_object()) {
            out += (first ? "" : ",\n") + innerPad + boost::json::serialize(boost::json::value(key)) + ": ";
            appendPretty(member, indent + 1, out);
            first = false;
        }
        out += "\n" + pad + "}";
    } else if (value.is_array() && !value.get_array().empty()) {
        out += "[\n";
        bool first = true;
        for (const auto& element : value.get_array()) {
            out += (first ? "" : ",\n") + innerPad;
            appendPretty(element, indent + 1, out);
            first = false;
        }
        out += "\n" + pad + "]";
    } else if (value.is_double()) {
        // The shortest text that reads back as the same number: 3.3, not 3.3E0.
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, value.get_double()).ptr;
        out.append(digits, end);
    } else {
        out += boost::json::serialize(value);
    }
}

} // namespace

int printReply(CliContext& context, const tcf::TcfClient::Reply& reply, const std::string& what,
               const HumanPrinter& human)
{
    if (!reply.recognised) {
        errorOut(context) << "the back-end does not offer " << what << "\n";
        return ExitCode::ErrorReply;
    }
    int result = ExitCode::Ok;
    boost::json::array values;
    for (const auto& text : reply.values) {
        auto value = parseOrNull(text);
        const std::string message = errorReportMessage(value, what);
        if (!message.empty()) {
            errorOut(context) << message << "\n";
            result = ExitCode::ErrorReply;
        }
        values.push_back(std::move(value));
    }
    if (context.json) {
        context.out << boost::json::serialize(values) << "\n";
        return result;
    }
    if (result != ExitCode::Ok)
        return result;
    if (human) {
        human(context.out, values, reply.values);
        return result;
    }
    for (const auto& value : values)
        if (!value.is_null())
            context.out << prettyJson(value) << "\n";
    return result;
}

std::ostream& errorOut(CliContext& context) { return context.err << "error: " << context.location; }

int runVerb(CliContext& context, const std::string& name, const std::vector<std::string>& arguments)
{
    try {
        const Verb& verb = verbNamed(name);
        if (arguments.size() == 1 && arguments[0] == "--help") {
            context.out << verbHelp(name);
            return ExitCode::Ok;
        }
        return verb.run(context, arguments);
    } catch (const UsageError& error) {
        errorOut(context) << error.what() << "\n";
        return ExitCode::Usage;
    } catch (const ReplyError& error) {
        errorOut(context) << error.what() << "\n";
        return ExitCode::ErrorReply;
    } catch (const tcf::TcfClient::Error& error) {
        errorOut(context) << error.what() << "\n";
        return ExitCode::Connection;
    } catch (const std::exception& error) {
        // A printer met a reply it cannot read (a member missing, a value of another kind): the
        // back-end does not speak the protocol this CLI knows.
        errorOut(context) << "the back-end's reply has a shape this CLI does not know (" << error.what() << ")\n";
        return ExitCode::Connection;
    }
}

boost::json::array callForValues(CliContext& context, const std::string& service, const std::string& command,
                                 const std::vector<std::string>& arguments)
{
    const auto reply = context.client.call(service, command, arguments);
    if (!reply.recognised)
        throw ReplyError("the back-end does not offer " + service + " " + command);
    boost::json::array values;
    for (const auto& text : reply.values) {
        auto value = parseOrNull(text);
        if (const auto message = errorReportMessage(value, service + " " + command); !message.empty())
            throw ReplyError(command + " failed: " + message);
        values.push_back(std::move(value));
    }
    if (values.size() < 2)
        throw ReplyError(service + " " + command + " answered no data");
    return values;
}

std::string textOf(const boost::json::value& value)
{
    return value.is_string() ? std::string(value.get_string()) : boost::json::serialize(value);
}

std::string hexText(std::uint64_t number, int digits)
{
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << std::setw(digits) << std::setfill('0') << number;
    return out.str();
}

std::string padded(std::string text, std::size_t width, Align align)
{
    if (text.size() >= width)
        return text;
    const std::string blanks(width - text.size(), ' ');
    return align == Align::Left ? text + blanks : blanks + text;
}

std::uint64_t numberOf(const boost::json::value& value)
{
    boost::system::error_code error;
    const auto result = value.to_number<std::uint64_t>(error);
    return error ? 0 : result;
}

std::uint64_t numberOfBytes(const std::vector<std::uint8_t>& bytes, bool bigEndian)
{
    const std::size_t count = std::min<std::size_t>(bytes.size(), 8);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = (value << 8) | (bigEndian ? bytes[i] : bytes[count - 1 - i]);
    return value;
}

std::vector<std::uint8_t> bytesOf(const boost::json::value& base64)
{
    std::vector<std::uint8_t> bytes;
    if (base64.is_string())
        base64_decode(base64.get_string(), bytes);
    return bytes;
}

std::string hexOf(const std::vector<std::uint8_t>& bytes)
{
    std::ostringstream out;
    for (const auto byte : bytes)
        out << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(byte);
    return out.str();
}

std::vector<std::uint8_t> bytesOfHex(const std::string& hex, const std::string& verb)
{
    if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw UsageError(verb + " needs an even number of hex digits, such as 01ff");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::uint64_t numberArgument(const std::string& text, const std::string& verb, const std::string& what)
{
    const bool isHex = text.size() > 2 && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0);
    const std::string digits = isHex ? text.substr(2) : text;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, isHex ? 16 : 10);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        throw UsageError(verb + " needs " + what + " as a number, such as 256 or 0x100, not '" + text + "'");
    return value;
}

int callAndPrint(CliContext& context, const std::string& service, const std::string& command,
                 const std::vector<std::string>& arguments, const HumanPrinter& human)
{
    return printReply(context, context.client.call(service, command, arguments), service + " " + command, human);
}

namespace {

int servicesVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    if (!arguments.empty())
        throw UsageError("services takes no arguments");
    const auto& names = context.client.peerServices();
    if (context.json) {
        boost::json::array list;
        for (const auto& name : names)
            list.emplace_back(name);
        context.out << boost::json::serialize(list) << "\n";
    } else {
        for (const auto& name : names)
            context.out << name << "\n";
    }
    return ExitCode::Ok;
}

int callVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    if (arguments.size() < 2)
        throw UsageError("call needs SERVICE COMMAND");
    std::vector<std::string> jsonArguments(arguments.begin() + 2, arguments.end());
    for (const auto& argument : jsonArguments) {
        boost::system::error_code error;
        boost::json::parse(argument, error);
        if (error)
            throw UsageError("argument is not JSON: " + argument + " (a string needs quotes: '\"text\"')");
    }
    return callAndPrint(context, arguments[0], arguments[1], jsonArguments);
}

/// Events with a form of their own on screen, by "SERVICE EVENT"; the rest print their JSON.
using EventPrinter = std::function<void(std::ostream& out, const boost::json::array& arguments)>;

const std::map<std::string, EventPrinter>& eventPrinters()
{
    static const std::map<std::string, EventPrinter> printers{
        {"Message message",
         [](std::ostream& out, const boost::json::array& arguments) {
             const auto text = [&](std::size_t index) {
                 return index < arguments.size() && arguments[index].is_string() ? std::string(arguments[index].get_string())
                                                                                 : std::string();
             };
             out << "[" << text(1) << "] " << text(2) << "  (" << text(0) << ")";
         }},
        // The event's bytes travel as Base64: shown in hex, as `mem read` shows bytes.
        {"Device targetEvent",
         [](std::ostream& out, const boost::json::array& arguments) {
             out << (arguments.empty() ? "" : textOf(arguments[0])) << " bytes "
                 << (arguments.size() > 1 ? hexOf(bytesOf(arguments[1])) : "");
         }},
    };
    return printers;
}

} // namespace

std::string clockTime(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(milliseconds));
    return text;
}

void printEvent(std::ostream& out, bool json, const std::string& stamp, const std::string& service,
                const std::string& name, const std::vector<std::string>& arguments)
{
    boost::json::array values;
    for (const auto& text : arguments)
        values.push_back(parseOrNull(text));
    if (json) {
        out << boost::json::serialize(boost::json::object{{"service", service}, {"event", name}, {"arguments", values}})
            << std::endl;
        return;
    }
    out << (stamp.empty() ? "" : stamp + " ") << service << " " << name;
    const auto printer = eventPrinters().find(service + " " + name);
    if (printer != eventPrinters().end()) {
        out << " ";
        printer->second(out, values);
    } else {
        for (const auto& value : values)
            out << " " << boost::json::serialize(value);
    }
    out << std::endl;
}

namespace {

int watchVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    // "--for SECONDS" first: watch that long (scripts and the tour), else until stopped.
    std::vector<std::string> wanted = arguments;
    std::optional<std::chrono::steady_clock::time_point> until;
    if (!wanted.empty() && wanted[0] == "--for") {
        char* end = nullptr;
        const double seconds = wanted.size() < 2 ? -1 : std::strtod(wanted[1].c_str(), &end);
        if (wanted.size() < 2 || *end != '\0' || !(seconds >= 0 && seconds <= 86400))
            throw UsageError("watch --for needs a number of seconds (0 to 86400)");
        until = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
        wanted.erase(wanted.begin(), wanted.begin() + 2);
    }
    const auto& offered = context.client.peerServices();
    for (const auto& service : wanted)
        if (std::find(offered.begin(), offered.end(), service) == offered.end())
            throw UsageError("watch: the back-end has no service " + service + " (services lists those it has)");
    // Set up before the handler can run, so the reader thread never sees it half made.
    std::mutex printMutex;
    context.client.setEventHandler([&](const std::string& service, const std::string& name,
                                       const std::vector<std::string>& eventArguments) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), service) == wanted.end())
            return;
        std::lock_guard lock(printMutex);
        printEvent(context.out, context.json, clockTime(std::chrono::system_clock::now()), service, name,
                   eventArguments);
    });
    // Runs until Ctrl-C, SIGTERM, or the back-end going away.
    const sigset_t stopSignals = blockStopSignals();
    timespec tick{0, 200'000'000};
    while (sigtimedwait(&stopSignals, nullptr, &tick) < 0) {
        if (until && std::chrono::steady_clock::now() >= *until)
            break;
        if (context.client.waitUntilClosed(std::chrono::milliseconds(0))) {
            context.client.setEventHandler(nullptr);
            errorOut(context) << "the back-end closed the connection\n";
            return ExitCode::Connection;
        }
    }
    // The handler prints through what lives on this frame.
    context.client.setEventHandler(nullptr);
    return ExitCode::Ok;
}

int helpVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 0, 1, "help", "no arguments, or a VERB");
    context.out << (arguments.empty() ? usageText() : verbHelp(arguments[0]));
    return ExitCode::Ok;
}

/// How many one-letter edits make `from` into `to`.
std::size_t editDistance(const std::string& from, const std::string& to)
{
    std::vector<std::size_t> row(to.size() + 1);
    for (std::size_t j = 0; j <= to.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= from.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= to.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (from[i - 1] == to[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[to.size()];
}

int shellVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 0, 0, "shell", "no arguments");
    return runShell(context, std::cin, isatty(STDIN_FILENO) != 0 ? ShellMode::Interactive : ShellMode::Script);
}

/// The tour: what a newcomer does first, narrated by its comments.
const char* const kTour = R"(# The tool types the back-end can drive, and the tools plugged in now:
tools
attached
# The devices the pack manager knows (description files, SVD files and CMSIS-Packs):
devices
# Set up the simulator, simulating the 8-bit DEMO8, and connect it:
setup simulator
tool $tool set '{"DeviceName":"DEMO8"}'
tool $tool connect
# The device, from its description file:
device DEMO8
# A debugging session on the simulated device:
session start $tool.DEMO8 debug
# Five bytes into its RAM, read back:
mem write $tool.DEMO8.data 0x100 48656c6c6f
mem read $tool.DEMO8.data 0x100 16
# Its CPU registers:
reg set $tool.DEMO8.SP 0x08FF
regs $tool.DEMO8
# Done: end the session and let the tool go.
session end $tool.DEMO8
teardown $tool
# Everything above was also sent as events: run `hilcore-cli watch` in a second terminal to see them.
)";

/// The tour of a real Cortex-M3, where the back-end can start QEMU and the firmware is built.
const char* const kQemuTour = R"(# A real Cortex-M3: QEMU's mps2-an385 behind its GDB stub, running our test firmware:
setup gdbremote qemu '{"Kernel":"$firmware"}'
tool $tool connect
# Five bytes into its SRAM, read back, and its registers as the stub describes them:
mem write $tool.MPS2-AN385.base 0x20001000 48656c6c6f
mem read $tool.MPS2-AN385.base 0x20001000 16
regs $tool.MPS2-AN385
# Reset it and let it run: what it prints on UART0 arrives as Message events.
tool $tool special reset
tool $tool special resume
watch --for 1.5 Message
tool $tool special halt
# UART0 as a peripheral view shows it: each register read from the target, with its fields:
peripheral $tool.MPS2-AN385 UART0
teardown $tool
)";

/// The firmware the QEMU tour runs: HIL_FIRMWARE, else the one the build made; empty when
/// neither is there.
std::string tourFirmware()
{
    const char* chosen = std::getenv("HIL_FIRMWARE");
    const std::string path = chosen && *chosen ? chosen : HIL_DEFAULT_FIRMWARE;
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error) ? path : "";
}

int tourVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 0, 0, "tour", "no arguments");
    std::istringstream tour(kTour);
    const int result = runShell(context, tour, ShellMode::Tour);
    if (result != ExitCode::Ok)
        return result;
    const auto connections = attachedConnectionTypes(context);
    const std::string firmware = tourFirmware();
    if (std::find(connections.begin(), connections.end(), "com.velmora.hil.connection.qemu") == connections.end() ||
        firmware.empty()) {
        context.out << "\n# A real Cortex-M3 on QEMU is the next step where the back-end has qemu-system-arm and\n"
                       "# the test firmware is built (set HIL_FIRMWARE to another image).\n";
        return ExitCode::Ok;
    }
    context.variables["firmware"] = firmware;
    std::istringstream qemuTour(kQemuTour);
    return runShell(context, qemuTour, ShellMode::Tour);
}

} // namespace

std::vector<std::string> splitWords(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                word += c;
        } else if (quote == '"') {
            if (c == '"')
                quote = 0;
            else if (c == '\\' && i + 1 < line.size())
                word += line[++i];
            else
                word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == '#' && !inWord) {
            break; // a comment, to the end of the line
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote)
        throw UsageError(std::string("unterminated ") + quote + " quote");
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::string substituteVariables(const std::string& word, const std::map<std::string, std::string>& variables)
{
    std::string result;
    for (std::size_t at = 0; at < word.size();) {
        const std::size_t end = word[at] == '$' ? word.find_first_not_of(
                                                      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_", at + 1)
                                                : at;
        const std::string name = word.substr(at + 1, (end == std::string::npos ? word.size() : end) - at - 1);
        if (word[at] != '$' || name.empty()) {
            result += word[at++];
            continue;
        }
        const auto variable = variables.find(name);
        if (variable == variables.end())
            throw UsageError("$" + name + " is not set (setup sets $tool)");
        result += variable->second;
        at = end == std::string::npos ? word.size() : end;
    }
    return result;
}

int runShell(CliContext& context, std::istream& input, ShellMode mode)
{
    const bool interactive = mode == ShellMode::Interactive;
    int lastFailure = ExitCode::Ok;
    std::string line;
    int lineNumber = 0;
    while ((interactive && context.out << "hil> " << std::flush), std::getline(input, line)) {
        ++lineNumber;
        // A script's errors say where it went wrong; a person sees the line they just typed.
        context.location = mode == ShellMode::Script ? "line " + std::to_string(lineNumber) + ": " : "";
        int result = ExitCode::Ok;
        try {
            auto words = splitWords(line);
            if (mode == ShellMode::Tour && !line.empty())
                context.out << (line.front() == '#' ? "\n" + line : "$ " + substituteVariables(line, context.variables)) << "\n";
            if (words.empty())
                continue;
            const std::string verb = words[0];
            if (verb == "shell" || verb == "tour")
                throw UsageError(verb + " cannot run inside a shell");
            words.erase(words.begin());
            for (auto& word : words)
                word = substituteVariables(word, context.variables);
            result = runVerb(context, verb, words);
        } catch (const UsageError& error) {
            errorOut(context) << error.what() << "\n";
            result = ExitCode::Usage;
        }
        if (result == ExitCode::Ok)
            continue;
        lastFailure = result;
        // A script stops at its first failure, as `set -e` would; a person goes on typing.
        if (!interactive || result == ExitCode::Connection)
            break;
    }
    context.location.clear();
    return lastFailure;
}

const VerbTable& verbTable()
{
    static const VerbTable table = [] {
        VerbTable verbs{
            {"services", {"", "list the services the back-end offers", servicesVerb}},
            {"call", {"SERVICE COMMAND [JSON-ARG...]", "send one command and print its reply values", callVerb}},
            {"watch", {"[--for SECONDS] [SERVICE...]", "print events as they arrive until Ctrl-C, or for SECONDS",
                       watchVerb}},
            {"help", {"[VERB]", "print this text, or the help of one verb (also: VERB --help)", helpVerb, false}},
            {"tour", {"", "a five-minute tour: sets up the simulator and runs the first verbs, printing each step; "
                          "stops at the first failure",
                      tourVerb}},
            {"shell", {"", "run verbs read from standard input, one per line, over one connection "
                           "(tools set up live until it ends; a script stops at its first failure)",
                       shellVerb}},
        };
        addToolVerbs(verbs);
        addDeviceVerbs(verbs);
        addMemoryVerbs(verbs);
        addStimuliVerbs(verbs);
        addPackVerbs(verbs);
        return verbs;
    }();
    return table;
}

std::string usageText()
{
    std::string text = "Usage: hilcore-cli [--connect HOST:PORT] [--json] VERB [ARGUMENT...]\n"
                       "Talks to a hilcore back-end over TCF (default 127.0.0.1:1534).\n"
                       "--json prints every reply as one JSON array of its values.\n\nVerbs:\n";
    for (const auto& [name, verb] : verbTable()) {
        std::string left = "  " + name + (verb.arguments.empty() ? "" : " " + verb.arguments);
        left.resize(std::max<std::size_t>(left.size() + 2, 44), ' ');
        text += left + verb.help + "\n";
    }
    text += "\nExit codes: 0 success, 1 error reply, 2 wrong command line, 3 back-end not reachable.\n";
    return text;
}

const Verb& verbNamed(const std::string& name)
{
    const auto verb = verbTable().find(name);
    if (verb != verbTable().end())
        return verb->second;
    // Closest first: a slip of a letter or two, or the start of a verb's name.
    std::vector<std::pair<std::size_t, std::string>> close;
    for (const auto& [candidate, entry] : verbTable()) {
        const std::size_t distance = editDistance(name, candidate);
        if (distance <= 2 || (name.size() >= 2 && candidate.rfind(name, 0) == 0))
            close.emplace_back(distance, candidate);
    }
    std::sort(close.begin(), close.end());
    std::string names;
    for (const auto& [distance, candidate] : close)
        names += (names.empty() ? "" : ", ") + candidate;
    throw UsageError("unknown verb " + name + (names.empty() ? "" : "; did you mean " + names + "?") +
                     " (help lists every verb)");
}

std::string verbHelp(const std::string& name)
{
    const Verb& verb = verbNamed(name);
    std::string text = "Usage: hilcore-cli [--connect HOST:PORT] [--json] " + name +
                       (verb.arguments.empty() ? "" : " " + verb.arguments) + "\n" + verb.help + "\n";
    if (verb.details)
        text += verb.details() + "\n";
    return text;
}

std::string prettyJson(const boost::json::value& value)
{
    std::string out;
    appendPretty(value, 0, out);
    return out;
}

std::string errorReportMessage(const boost::json::value& value, const std::string& what)
{
    if (!value.is_object())
        return {};
    const auto& report = value.get_object();
    const auto* code = report.if_contains("Code");
    if (!code || !code->is_int64())
        return {};
    std::string message;
    const auto number = code->get_int64();
    if (const auto* format = report.if_contains("Format"); format && format->is_string())
        message = std::string(format->get_string());
    else if (number == static_cast<std::int64_t>(ErrorCode::InvalidArguments))
        message = (what.empty() ? "the command" : what) +
                  " was refused: the back-end has no such command, or an argument is missing, extra or of the wrong "
                  "kind (docs/protocol.md says what each command takes)";
    else
        message = "error";
    // Codes of the common library are large and read best in hex, as its headers write them.
    message += " (code " + (number > 0xFFFF ? FormatString("0x%llX", static_cast<long long>(number)) : std::to_string(number));
    if (const auto* service = report.if_contains("Service"); service && service->is_string())
        message += ", service " + std::string(service->get_string());
    return message + ")";
}

} // namespace hil::cli
