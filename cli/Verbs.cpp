// SPDX-License-Identifier: Apache-2.0
// The verb table, its help, and the verbs of no service of their own: services, call, watch, help.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <unistd.h>

#include <boost/json.hpp>

#include "cli/CliCommands.h"
#include "cli/RunControlWords.h"
#include "cli/StopRequests.h"
#include "platform/common/TextForPeople.h"
#include "platform/common/UsageColumns.h"

namespace hil::cli {

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
        setData(context, std::move(list));
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
        // A stop as `wait` says it: its reason, the breakpoints hit, the PC in hex.
        {"RunControl contextSuspended",
         [](std::ostream& out, const boost::json::array& arguments) {
             const auto at = [&](std::size_t index) { return index < arguments.size() ? arguments[index] : boost::json::value(); };
             RunState state;
             state.suspended = true;
             if (at(1).is_uint64() || (at(1).is_int64() && at(1).get_int64() >= 0))
                 state.pc = at(1).to_number<std::uint64_t>();
             state.reason = at(2).is_string() ? std::string(at(2).get_string()) : "";
             if (at(3).is_object())
                 state.data = at(3).get_object();
             out << textOf(at(0)) << " " << describeStop(state, nullptr);
         }},
        // A breakpoint's status as `breaks` shows it: where it is planted, its type and hits.
        {"Breakpoints status",
         [](std::ostream& out, const boost::json::array& arguments) {
             out << (arguments.empty() ? "" : textOf(arguments[0]));
             const auto* status = arguments.size() > 1 && arguments[1].is_object() ? &arguments[1].get_object() : nullptr;
             const auto* error = status ? status->if_contains("Error") : nullptr;
             const auto* instances = status ? status->if_contains("Instances") : nullptr;
             if (error && error->is_string() && !error->get_string().empty())
                 out << " not planted: " << error->get_string().c_str();
             else if (!instances || !instances->is_array() || instances->get_array().empty())
                 out << " planted nowhere";
             else
                 for (const auto& instance : instances->get_array()) {
                     const auto field = [&](const char* key) {
                         const auto* value = instance.is_object() ? instance.get_object().if_contains(key) : nullptr;
                         return value ? *value : boost::json::value();
                     };
                     out << " " << textOf(field("LocationContext")) << " " << hexText(numberOf(field("Address")), 8) << " "
                         << textOf(field("BreakpointType")) << " " << numberOf(field("HitCount")) << " hit(s)";
                     if (field("Error").is_string())
                         out << " not planted: " << textOf(field("Error"));
                 }
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

/// One argument of an event, short: a context by its id, a list of contexts or ids by the first
/// few ids and how many there are, anything else as JSON cut to a line.
std::string shortArgument(const boost::json::value& value)
{
    constexpr std::size_t kShownIds = 4;
    constexpr std::size_t kLongest = 100;
    const auto idOf = [](const boost::json::value& item) -> std::optional<std::string> {
        if (item.is_string())
            return std::string(item.get_string());
        if (const auto* id = item.is_object() ? item.get_object().if_contains("ID") : nullptr; id && id->is_string())
            return std::string(id->get_string());
        return std::nullopt;
    };
    if (const auto id = idOf(value))
        return *id;
    if (value.is_array() && !value.get_array().empty()) {
        const auto& items = value.get_array();
        std::string ids;
        for (std::size_t i = 0; i < items.size() && i < kShownIds; ++i) {
            const auto id = idOf(items[i]);
            if (!id)
                break;
            ids += (i ? " " : "") + *id;
        }
        if (!ids.empty())
            return items.size() > kShownIds ? ids + " ... (" + std::to_string(items.size()) + ")" : ids;
    }
    std::string text = boost::json::serialize(value);
    return text.size() > kLongest ? text.substr(0, kLongest - 3) + "..." : text;
}

} // namespace

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
            out << " " << shortArgument(value);
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
    // Runs until Ctrl-C, SIGTERM, or the back-end going away. A person at a terminal sees that it
    // listens, and how to end it.
    const StoppableSteps stoppable;
    if (!context.json && isatty(STDERR_FILENO)) {
        std::string services;
        for (const auto& service : wanted)
            services += (services.empty() ? "" : ", ") + service;
        context.err << "watching the events of " << (services.empty() ? "every service" : services)
                    << (until ? "" : " (Ctrl-C ends it)") << std::endl;
    }
    while (!stopRequested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
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
    const std::string text = arguments.empty() ? usageText() : verbHelp(arguments[0]);
    if (context.json)
        setData(context, boost::json::value(text));
    else
        context.out << text;
    return ExitCode::Ok;
}

} // namespace

const VerbTable& verbTable()
{
    static const VerbTable table = [] {
        VerbTable verbs{
            {"services", {"", "list the services the back-end offers", servicesVerb}},
            {"call", {"SERVICE COMMAND [JSON-ARG...]", "send one command and print its reply values", callVerb}},
            {"watch", {"[--for SECONDS] [SERVICE...]", "print events as they arrive until Ctrl-C, or for SECONDS",
                       watchVerb}},
            {"help", {"[VERB]", "print this text, or the help of one verb (also: VERB --help)", helpVerb, false}},
        };
        addShellVerbs(verbs);
        addTourVerb(verbs);
        addDiscoverVerb(verbs);
        addGdbServerVerb(verbs);
        addLoadVerb(verbs);
        addToolVerbs(verbs);
        addTargetVerbs(verbs);
        addDeviceVerbs(verbs);
        addMemoryVerbs(verbs);
        addStimuliVerbs(verbs);
        addPackVerbs(verbs);
        addRunControlVerbs(verbs);
        return verbs;
    }();
    return table;
}

std::string usageText()
{
    std::string text = "Usage: hilcore-cli [--connect HOST:PORT] [--json] VERB [ARGUMENT...]\n"
                       "Talks to a hilcore back-end over TCF (default 127.0.0.1:1534).\n"
                       "--json prints one JSON object a verb: {\"data\": ...}, with \"error\": {\"code\", \"message\"} when it "
                       "failed (see docs/cli.md).\n\nVerbs:\n";
    text += usageColumns(verbTable(), 44, [](const Verb& verb) { return verb.arguments; });
    text += "\nExit codes: 0 success, 1 error reply or a file that failed, 2 wrong command line, 3 back-end not reachable, 130 Ctrl-C.\n";
    return text;
}

const Verb& verbNamed(const std::string& name)
{
    const auto verb = verbTable().find(name);
    if (verb != verbTable().end())
        return verb->second;
    // Words users of other debuggers type, with what does it here.
    static const std::map<std::string, std::string> kOtherWords{
        {"stop", "halt [TARGET]"},
        {"continue", "resume [TARGET]"},
        {"cont", "resume [TARGET]"},
        {"stepi", "step [TARGET] [N]"},
        {"watchpoint", "watch-data [TARGET] ADDRESS SIZE [r|w|a]"},
        {"backtrace", "state [TARGET]"},
        {"read", "mem read ID ADDRESS COUNT"},
        {"write", "mem write ID ADDRESS HEX"},
        {"flash", "load FILE"},
        {"program", "load FILE"},
        {"connect", "tool ID connect"},
    };
    if (const auto other = kOtherWords.find(name); other != kOtherWords.end())
        throw UsageError(name + " is not a verb; use " + other->second + " (help " +
                         other->second.substr(0, other->second.find(' ')) + " says more)");
    std::vector<std::string> verbs;
    for (const auto& [candidate, entry] : verbTable())
        verbs.push_back(candidate);
    throw UsageError("unknown verb " + name + didYouMean(name, verbs, "") +" (help lists every verb)");
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

} // namespace hil::cli
