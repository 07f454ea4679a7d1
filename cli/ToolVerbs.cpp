// SPDX-License-Identifier: Apache-2.0
// The verbs that drive probes through the "Tool" service.

#include <filesystem>
#include <mutex>
#include <unistd.h>

#include <boost/json.hpp>

#include "cli/CliCommands.h"
#include "platform/common/Base64.h"

namespace hil::cli {

namespace {

const std::string kTool = "Tool";
using Values = boost::json::array;
using Texts = std::vector<std::string>;

/// The text after the last '.', the short name users type ("simulator" for
/// "com.velmora.hil.simulator").
std::string shortName(const std::string& type) { return type.substr(type.rfind('.') + 1); }

/// How our bundles name their connection types: "com.velmora.hil.connection.tcp" is "tcp".
const std::string kConnectionTypePrefix = "com.velmora.hil.connection.";

/// Properties that name a file: the back-end reads them from its own working folder.
const std::string kFileProperties[] = {"Kernel"};

/// `typed` as given when it has a '.', else the one of `known` whose short name it is; when none
/// is and `fallbackPrefix` is given, that prefix before it.
std::string resolveType(const std::string& typed, const std::vector<std::string>& known, const std::string& what,
                        const std::string& fallbackPrefix = "")
{
    if (typed.empty() || typed.find('.') != std::string::npos)
        return typed;
    std::vector<std::string> matches;
    for (const auto& type : known)
        if (shortName(type) == typed && std::find(matches.begin(), matches.end(), type) == matches.end())
            matches.push_back(type);
    if (matches.size() == 1)
        return matches[0];
    if (matches.empty() && !fallbackPrefix.empty())
        return fallbackPrefix + typed;
    std::string list;
    for (const auto& type : known)
        list += (list.empty() ? "" : ", ") + type;
    throw UsageError((matches.empty() ? "no " : "more than one ") + what + " is called " + typed +
                     " (known: " + (list.empty() ? "none" : list) + ")");
}

std::vector<std::string> supportedToolTypes(CliContext& context)
{
    const auto values = callForValues(context, kTool, "getSupportedToolTypes", {});
    std::vector<std::string> types;
    for (const auto& type : values.at(1).as_array())
        types.emplace_back(type.as_string());
    return types;
}

int toolsVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 0, 0, "tools", "no arguments");
    return callAndPrint(context, kTool, "getSupportedToolTypes", {}, [](std::ostream& out, const Values& values, const Texts&) {
        for (const auto& type : values.at(1).as_array())
            out << type.as_string().c_str() << "\n";
    });
}

int attachedVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 0, 0, "attached", "no arguments");
    return callAndPrint(context, kTool, "getAttachedTools", {jsonText("")}, [](std::ostream& out, const Values& values, const Texts&) {
        for (const auto& tool : values.at(1).as_array()) {
            out << tool.at("ToolType").as_string().c_str();
            if (const auto& connection = tool.at("ConnectionType").as_string(); !connection.empty())
                out << " via " << connection.c_str() << " " << boost::json::serialize(tool.at("ConnectionProperties"));
            out << "\n";
        }
    });
}

int setupVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    const ToolSetup setup = readToolSetup(context, arguments, "setup");
    const std::string& toolType = setup.toolType;
    const std::string& connectionType = setup.connectionType;
    const auto reply = context.client.call(
        kTool, "setupTool", {jsonText(toolType), jsonText(connectionType), boost::json::serialize(setup.properties)});
    const auto id = reply.values.size() > 1 ? parseOrNull(reply.values[1]) : boost::json::value();
    const std::string madeId = id.is_string() ? std::string(id.get_string()) : "";
    const int result = printReply(context, reply, "Tool setupTool",
                                  [&](std::ostream& out, const Values&, const Texts&) { out << madeId << "\n"; });
    if (result != ExitCode::Ok)
        return result;
    if (madeId.empty()) {
        // A success without a tool: no factory of that type accepted the set-up.
        errorOut(context) << "no " << toolType << " tool was made"
                    << (connectionType.empty() ? "" : " over " + connectionType) << "\n";
        return ExitCode::ErrorReply;
    }
    context.variables["tool"] = madeId;
    return result;
}

int teardownVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 1, 1, "teardown", "ID");
    return callAndPrint(context, kTool, "tearDownTool", {jsonText(arguments[0])},
                        [&](std::ostream& out, const Values&, const Texts&) { out << arguments[0] << " torn down\n"; });
}

int pollVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 1, 1, "poll", "on|off");
    if (arguments[0] != "on" && arguments[0] != "off")
        throw UsageError("poll needs on or off");
    const bool on = arguments[0] == "on";
    return callAndPrint(context, kTool, "pollForTools", {on ? "true" : "false"},
                        [on](std::ostream& out, const Values&, const Texts&) {
                            out << (on ? "polling for tools (watch Tool to see changes)\n" : "polling stopped\n");
                        });
}

/// Prints a fixed text on success.
HumanPrinter says(std::string text)
{
    return [text](std::ostream& out, const Values&, const Texts&) { out << text << "\n"; };
}

/// One operation of the `tool` verb: its arguments after the id, and how it becomes a command.
struct ToolOperation {
    std::string arguments;
    std::string help;
    std::size_t least;
    std::size_t most;
    std::string command;
    /// The TCF arguments after the id, from the words after the operation name.
    std::function<std::vector<std::string>(const std::vector<std::string>&)> encode;
    HumanPrinter human;
};

std::vector<std::string> noArguments(const std::vector<std::string>&) { return {}; }

const std::map<std::string, ToolOperation>& toolOperations()
{
    static const std::map<std::string, ToolOperation> table{
        {"info", {"", "the tool's properties", 0, 0, "getContext", noArguments, {}}},
        {"set", {"PROPERTIES-JSON", "merge properties into the tool's, such as '{\"DeviceName\":\"DEMO8\"}'", 1, 1,
                 "setProperties", [](const Texts& words) {
                     if (!parseOrNull(words[0]).is_object())
                         throw UsageError("set needs a JSON object");
                     return std::vector<std::string>{words[0]};
                 },
                 says("properties set")}},
        {"connect", {"", "connect the probe", 0, 0, "connect", noArguments, says("connected")}},
        {"disconnect", {"", "disconnect the probe", 0, 0, "disconnect", noArguments, says("disconnected")}},
        {"firmware", {"", "check that the firmware is current", 0, 0, "checkFirmware", noArguments, says("firmware is current")}},
        {"bootmode", {"", "put the probe into boot mode", 0, 0, "setBootMode", noArguments, says("boot mode set")}},
        {"detect", {"", "list the devices the probe sees", 0, 0, "detectDevices", noArguments,
                    [](std::ostream& out, const Values& values, const Texts&) {
                        for (const auto& device : values.at(1).as_array())
                            out << boost::json::serialize(device) << "\n";
                    }}},
        {"voltage", {"", "the target voltage", 0, 0, "getTargetVoltage", noArguments,
                     [](std::ostream& out, const Values& values, const Texts& texts) {
                         // NaN is not JSON: the back-end sends it as a bare word for "unknown".
                         if (texts.at(1) == "NaN")
                             out << "unknown\n";
                         else
                             out << values.at(1).to_number<double>() << " V\n";
                     }}},
        {"selftest", {"", "run the probe's self test", 0, 0, "selfTest", noArguments, {}}},
        {"calibrate", {"", "calibrate the probe", 0, 0, "calibrate", noArguments,
                       [](std::ostream& out, const Values& values, const Texts&) {
                           out << (values.at(1).as_bool() ? "calibrated" : "not calibrated") << "\n";
                       }}},
        {"raw", {"HEX [TIMEOUT-MS]", "send raw bytes and print the answer in hex", 1, 2, "cmd",
                 [](const Texts& words) {
                     std::vector<std::string> encoded{jsonText(base64_encode(bytesOfHex(words[0], "raw")))};
                     if (words.size() > 1) {
                         if (!parseOrNull(words[1]).is_int64())
                             throw UsageError("raw needs a whole number of milliseconds");
                         encoded.push_back(words[1]);
                     }
                     return encoded;
                 },
                 [](std::ostream& out, const Values& values, const Texts&) {
                     std::vector<std::uint8_t> bytes;
                     base64_decode(values.at(0).as_string(), bytes);
                     out << hexOf(bytes) << "\n";
                 }}},
        {"text", {"COMMAND...", "send a text command and print the answer", 1, SIZE_MAX, "genericStringCommand",
                  [](const Texts& words) {
                      std::string command;
                      for (const auto& word : words)
                          command += (command.empty() ? "" : " ") + word;
                      return std::vector<std::string>{jsonText(command)};
                  },
                  [](std::ostream& out, const Values& values, const Texts&) {
                      if (values.size() > 1)
                          out << values.at(1).as_string().c_str() << "\n";
                  }}},
        {"special", {"NAME [PARAMETERS-JSON]", "run a special operation of the tool", 1, 2, "SpecialOperation",
                     [](const Texts& words) {
                         const std::string parameters = words.size() > 1 ? words[1] : "{}";
                         if (!parseOrNull(parameters).is_object())
                             throw UsageError("special needs a JSON object of parameters");
                         return std::vector<std::string>{jsonText(words[0]), parameters};
                     },
                     says("done")}},
    };
    return table;
}

/// The special operations of the tools of this project's bundles, for `help tool`: the back-end
/// cannot be asked for them (a driver's operations are its own), so they are written here.
std::string specialOperationsUsage()
{
    struct Special {
        const char* tool;
        const char* name;
        const char* parameters;
        const char* what;
    };
    static constexpr Special kSpecials[] = {
        {"gdbremote", "halt", "", "stop the target"},
        {"gdbremote", "resume", "", "let it run"},
        {"gdbremote", "step", "", "run one instruction"},
        {"gdbremote", "reset", "", "reset it through the server's monitor (the tool's \"ResetCommand\")"},
        {"gdbremote", "breakpoint", "{\"Address\":A}", "set a breakpoint (unbreakpoint clears it)"},
        {"gdbremote", "watchpoint", "{\"Address\":A,\"Size\":N}", "stop on a write (unwatchpoint clears it)"},
        {"simulator", "stimulate", "{\"Configuration\":{...}}", "drive values into the device (see README)"},
        {"simulator", "release", "", "stop driving them"},
        {"simulator", "setVoltage", "{\"Volts\":V}", "the target voltage the tool reports"},
        {"simulator", "loseConnection", "{\"Reason\":TEXT}", "act out a lost probe"},
    };
    std::string text = "\nSpecial operations (tool ID special NAME [PARAMETERS-JSON]):\n";
    for (const auto& special : kSpecials)
        text += "  " + padded(special.tool, 10) + " " + padded(special.name, 15) + " " + padded(special.parameters, 24) +
                " " + special.what + "\n";
    return text;
}

std::string toolUsage()
{
    return tableUsage("ID OPERATION, where OPERATION is one of:", toolOperations()) + specialOperationsUsage();
}

int toolVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 2, SIZE_MAX, "tool", toolUsage());
    const auto& operation = actionOf(toolOperations(), arguments[1], "tool", "operation", toolUsage());
    const std::vector<std::string> words(arguments.begin() + 2, arguments.end());
    requireArguments(words, operation.least, operation.most, "tool ID " + arguments[1],
                     operation.arguments.empty() ? "no arguments" : operation.arguments);
    std::vector<std::string> tcfArguments{jsonText(arguments[0])};
    for (auto& argument : operation.encode(words))
        tcfArguments.push_back(std::move(argument));
    return callAndPrint(context, kTool, operation.command, tcfArguments, operation.human);
}

/// Draws "[#####-----]  50% phase" from a progress report such as {"Progress":50,"Phase":"writing"}.
std::string progressBar(const std::string& report)
{
    const auto value = parseOrNull(report);
    if (!value.is_object() || !value.as_object().contains("Progress"))
        return report;
    boost::system::error_code error;
    const double percent = std::clamp(value.at("Progress").to_number<double>(error), 0.0, 100.0);
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(percent * kWidth / 100);
    std::string bar = "[" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "] " +
                      padded(std::to_string(static_cast<int>(percent)), 3, Align::Right) + "%";
    if (const auto* phase = value.as_object().if_contains("Phase"); phase && phase->is_string())
        bar += " " + std::string(phase->get_string());
    return bar;
}

int upgradeVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 1, 2, "upgrade", "ID [force]");
    if (arguments.size() == 2 && arguments[1] != "force")
        throw UsageError("upgrade needs ID [force]");
    // On a terminal the bar redraws in place; into a file or pipe each report is a line.
    const bool redraw = !context.json && isatty(STDERR_FILENO);
    bool drew = false;
    // With --json the reports are the data; they arrive on the client's reader thread.
    std::mutex reportsMutex;
    boost::json::array reports;
    auto reply = context.client.send(kTool, "startUpgrade", {jsonText(arguments[0]), arguments.size() == 2 ? "true" : "false"},
                                     [&](const std::vector<std::string>& values) {
                                         const std::string report = values.empty() ? "" : values[0];
                                         if (context.json) {
                                             std::lock_guard lock(reportsMutex);
                                             reports.push_back(parseOrNull(report));
                                         } else
                                             context.err << (redraw ? "\r" : "") << progressBar(report)
                                                         << (redraw ? "" : "\n") << std::flush;
                                         drew = true;
                                     });
    // An upgrade may take minutes on a real probe; the client waits as long as the back-end lives.
    const auto result = reply.get();
    if (redraw && drew)
        context.err << "\n";
    const int printed = printReply(context, result, "Tool startUpgrade", says("upgrade finished"));
    std::lock_guard lock(reportsMutex);
    setData(context, boost::json::object{{"reports", std::move(reports)}});
    return printed;
}

} // namespace

std::vector<std::string> attachedConnectionTypes(CliContext& context)
{
    const auto values = callForValues(context, kTool, "getAttachedTools", {jsonText("")});
    std::vector<std::string> types;
    for (const auto& tool : values.at(1).as_array())
        types.emplace_back(tool.at("ConnectionType").as_string());
    return types;
}

ToolSetup readToolSetup(CliContext& context, const std::vector<std::string>& arguments, const std::string& verb)
{
    const std::string usage = "TYPE [CONNECTION-TYPE] [PROPERTIES-JSON]";
    requireArguments(arguments, 1, 3, verb, usage);
    ToolSetup setup;
    setup.toolType = resolveType(arguments[0], supportedToolTypes(context), "tool type");
    // A connection polling has not found (a GDB server that is not up yet) is still set up by
    // its short name.
    if (arguments.size() > 1)
        setup.connectionType =
            resolveType(arguments[1], attachedConnectionTypes(context), "attached connection type", kConnectionTypePrefix);
    auto properties = parseOrNull(arguments.size() > 2 ? arguments[2] : "{}");
    if (!properties.is_object())
        throw UsageError(verb + " needs " + usage + "; PROPERTIES-JSON is a JSON object such as '{\"SerialNumber\":\"VP-1\"}'");
    setup.properties = std::move(properties.as_object());
    for (const auto& key : kFileProperties)
        if (auto* file = setup.properties.if_contains(key); file && file->is_string() && !file->get_string().empty())
            *file = std::filesystem::absolute(textOf(*file)).lexically_normal().string();
    return setup;
}

void addToolVerbs(VerbTable& table)
{
    table.insert({"tools", {"", "list the tool types the back-end can drive", toolsVerb}});
    table.insert({"attached", {"", "list the tools plugged in now (simulators are always there)", attachedVerb}});
    table.insert({"setup", {"TYPE [CONNECTION-TYPE] [PROPERTIES-JSON]",
                            "set up a tool and print its id; short type names work (setup simulator)", setupVerb}});
    table.insert({"teardown", {"ID", "tear a tool down", teardownVerb}});
    table.insert({"tool", {"ID OPERATION [ARGUMENT...]",
                           "run an operation on a tool: info set connect disconnect firmware bootmode detect voltage "
                           "selftest calibrate raw text special",
                           toolVerb, true, toolUsage}});
    table.insert({"upgrade", {"ID [force]", "upgrade the probe's firmware, with a progress bar", upgradeVerb}});
    table.insert({"poll", {"on|off", "switch polling for plugged-in tools on or off", pollVerb}});
}

} // namespace hil::cli
