// SPDX-License-Identifier: Apache-2.0
// The verbs of the "Targets" service, targets the back-end keeps between clients, and the names
// they give to every other verb.

#include <algorithm>

#include <boost/json.hpp>

#include "cli/CliCommands.h"

namespace hil::cli {

namespace {

const std::string kTargets = "Targets";
/// The verbs whose id is a tool's: a target's name alone stands for its tool there, for its
/// device everywhere else.
const std::vector<std::string> kToolVerbs{"tool", "teardown", "upgrade", "gdbserver"};

std::string shortType(const boost::json::value& type)
{
    const std::string text = textOf(type);
    return text.substr(text.rfind('.') + 1);
}

void printTarget(std::ostream& out, const boost::json::value& entry)
{
    out << padded(textOf(entry.at("Name")), 12) << " " << padded(textOf(entry.at("ToolID")), 14) << " "
        << padded(textOf(entry.at("DeviceID")), 28) << " " << padded(textOf(entry.at("State")), 8) << " "
        << shortType(entry.at("ToolType"));
    if (const auto connection = shortType(entry.at("ConnectionType")); !connection.empty())
        out << " via " << connection;
    out << "\n";
}

int targetVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    const std::string usage = "add NAME TYPE [CONNECTION-TYPE] [PROPERTIES-JSON] [TOOL-PROPERTIES-JSON] | remove NAME";
    requireArguments(arguments, 2, 6, "target", usage);
    if (arguments[0] == "remove" && arguments.size() == 2)
        return callAndPrint(context, kTargets, "remove", {jsonText(arguments[1])},
                            [&](std::ostream& out, const boost::json::array&, const std::vector<std::string>&) {
                                out << arguments[1] << " removed\n";
                            });
    if (arguments[0] != "add" || arguments.size() < 3)
        throw UsageError("target needs " + usage);
    // TOOL-PROPERTIES-JSON is the one argument past what `setup` takes.
    std::vector<std::string> setupWords(arguments.begin() + 2, arguments.begin() + std::min<std::size_t>(arguments.size(), 5));
    const ToolSetup setup = readToolSetup(context, setupWords, "target add");
    boost::json::value toolProperties = boost::json::object();
    if (arguments.size() == 6 && !(toolProperties = parseOrNull(arguments[5])).is_object())
        throw UsageError("target add needs TOOL-PROPERTIES-JSON as a JSON object such as '{\"DeviceName\":\"DEMO32\"}'");
    const boost::json::object definition{{"Name", arguments[1]},
                                   {"ToolType", setup.toolType},
                                   {"ConnectionType", setup.connectionType},
                                   {"ConnectionProperties", setup.properties},
                                   {"ToolProperties", toolProperties}};
    return callAndPrint(context, kTargets, "add", {jsonText(definition)},
                        [&](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                            context.variables["tool"] = textOf(values.at(1).at("ToolID"));
                            printTarget(out, values.at(1));
                        });
}

int targetsVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 0, 0, "targets", "no arguments");
    return callAndPrint(context, kTargets, "list", {},
                        [](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                            for (const auto& entry : values.at(1).as_array())
                                printTarget(out, entry);
                        });
}

} // namespace

std::vector<std::string> withTargetNames(CliContext& context, const std::string& verb,
                                         const std::vector<std::string>& arguments)
{
    const auto& offered = context.client.peerServices();
    if (std::find(offered.begin(), offered.end(), kTargets) == offered.end() || verb == "target" || verb == "call")
        return arguments;
    const auto targets = callForValues(context, kTargets, "list", {}).at(1).as_array();
    if (targets.empty())
        return arguments;
    const bool toolVerb = std::find(kToolVerbs.begin(), kToolVerbs.end(), verb) != kToolVerbs.end();
    auto resolved = arguments;
    for (auto& word : resolved)
        for (const auto& entry : targets) {
            const std::string name = textOf(entry.at("Name"));
            if (word.compare(0, name.size(), name) != 0 || (word.size() > name.size() && word[name.size()] != '.'))
                continue;
            const std::string tool = textOf(entry.at("ToolID"));
            const std::string device = textOf(entry.at("DeviceID"));
            if (word.size() == name.size()) {
                word = toolVerb || device.empty() ? tool : device;
                break;
            }
            // NAME.base and NAME.pc are below the device; NAME.DEVICE... says the device itself.
            const std::string rest = word.substr(name.size() + 1);
            const std::string deviceName = device.empty() ? "" : device.substr(tool.size() + 1);
            const bool namesDevice = !deviceName.empty() && rest.compare(0, deviceName.size(), deviceName) == 0 &&
                                     (rest.size() == deviceName.size() || rest[deviceName.size()] == '.');
            word = (device.empty() || namesDevice ? tool : device) + "." + rest;
            break;
        }
    return resolved;
}

void addTargetVerbs(VerbTable& table)
{
    table.insert({"target", {"add NAME TYPE [CONNECTION-TYPE] [PROPERTIES-JSON] [TOOL-PROPERTIES-JSON] | remove NAME",
                             "set up and connect a target the back-end keeps between commands and clients under "
                             "NAME (TYPE and the rest as setup takes them; TOOL-PROPERTIES-JSON as tool set does), or "
                             "tear it down; every verb then takes NAME for its tool or device id, and NAME.base, "
                             "NAME.pc for what is below the device",
                             targetVerb}});
    table.insert({"targets", {"", "list the targets the back-end keeps: name, tool, device, state, type", targetsVerb}});
}

} // namespace hil::cli
