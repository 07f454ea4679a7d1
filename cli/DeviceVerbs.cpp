// SPDX-License-Identifier: Apache-2.0
// The verbs that read device descriptions and drive device contexts through the "Device" service.

#include <boost/algorithm/string.hpp>
#include <boost/json.hpp>

#include "cli/CliCommands.h"
#include "platform/common/TextForPeople.h"

namespace hil::cli {

namespace {

const std::string kDevice = "Device";

/// Prints a register group: its place, then one line per register with its address.
void printRegisterGroup(std::ostream& out, const boost::json::object& group)
{
    const bool placed = group.contains("address");
    out << textOf(group.at("name")) << ": " << numberOf(group.at("size")) << " bytes";
    if (placed)
        out << " at " << hexText(numberOf(group.at("address"))) << " in " << textOf(group.at("address-space"));
    else
        out << " (a definition: offsets only)";
    out << "\n";
    const std::uint64_t base = placed ? numberOf(group.at("address")) : 0;
    for (const auto& reg : group.at("registers").as_array()) {
        out << "  " << padded(hexText(base + numberOf(reg.at("offset"))), 12) << padded(textOf(reg.at("name")), 12)
            << numberOf(reg.at("size")) << " byte(s)";
        for (const auto& bitfield : reg.at("bitfields").as_array())
            out << "  " << textOf(bitfield.at("name")) << "=" << hexText(numberOf(bitfield.at("mask")));
        out << "\n";
    }
}

/// Throws `ReplyError` ("no device NAME; did you mean A, B?", with at most 3 known names a slip
/// of a few letters from it, or that hold it or that it holds, in any case) when the pack
/// manager knows no device `name`. Returns when it knows one, or cannot be asked.
void requireKnownDevice(CliContext& context, const std::string& name)
{
    boost::json::array devices;
    try {
        devices = callForValues(context, "Packs", "list", {}).at(1).as_array();
    } catch (const std::exception&) {
        return; // no pack manager to ask: the error of the Device service stands
    }
    std::vector<std::string> names;
    for (const auto& device : devices) {
        names.push_back(textOf(device.at("name")));
        if (boost::algorithm::iequals(names.back(), name))
            return;
    }
    throw ReplyError("no device " + name + didYouMean(name, names, " (devices lists every device)"));
}

/// An address space: its range and byte order, then a line per memory segment.
void printSpace(std::ostream& out, const boost::json::value& space)
{
    out << textOf(space.at("name")) << ": " << hexText(numberOf(space.at("start"))) << " + "
        << hexText(numberOf(space.at("size"))) << " (" << textOf(space.at("endianness")) << ")\n";
    for (const auto& segment : space.at("segments").as_array()) {
        out << "  " << padded(textOf(segment.at("name")), 11) << " " << hexText(numberOf(segment.at("start"))) << " + "
            << hexText(numberOf(segment.at("size")));
        if (const auto page = numberOf(segment.at("pagesize")))
            out << ", pages of " << hexText(page);
        out << "\n";
    }
}

/// The device summary: name, architecture, and each address space with its segments.
int summary(CliContext& context, const std::string& name)
{
    boost::json::object info;
    try {
        info = callForValues(context, kDevice, "getDeviceInfo", {jsonText(name)}).at(1).as_object();
    } catch (const ReplyError&) {
        requireKnownDevice(context, name);
        throw;
    }
    boost::json::array spaces;
    for (const auto& id : info.at("addresspaces").as_array())
        spaces.push_back(callForValues(context, kDevice, "getAddresspaceInfo", {jsonText(name), jsonText(textOf(id))}).at(1));
    if (context.json) {
        setData(context, boost::json::object{{"device", info}, {"addressSpaces", spaces}});
        return ExitCode::Ok;
    }
    // What the description leaves empty is left out.
    std::string about = textOf(info.at("architecture"));
    if (const auto series = textOf(info.at("series")); !series.empty())
        about += (about.empty() ? "" : ", ") + std::string("series ") + series;
    context.out << textOf(info.at("name")) << (about.empty() ? "" : ": " + about) << "\n";
    for (const auto& space : spaces) {
        const auto start = numberOf(space.at("start"));
        context.out << "  " << padded(textOf(space.at("name")), 12) << hexText(start) << " + "
                    << hexText(numberOf(space.at("size"))) << " (" << textOf(space.at("endianness")) << ")";
        for (const auto& segment : space.at("segments").as_array())
            context.out << "  " << textOf(segment.at("name")) << "@" << hexText(numberOf(segment.at("start")));
        context.out << "\n";
    }
    return ExitCode::Ok;
}

/// One way of looking into a device: its arguments after the device name and its command.
struct DevicePart {
    std::string arguments;
    std::string help;
    std::size_t count;
    std::string command;
    HumanPrinter human;
    /// The service that answers it.
    std::string service = kDevice;
};

const std::map<std::string, DevicePart>& deviceParts()
{
    static const std::map<std::string, DevicePart> table{
        {"space", {"SPACE", "an address space and its memory segments", 1, "getAddresspaceInfo",
                   [](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                       printSpace(out, values.at(1));
                   }}},
        {"module", {"INSTANCE", "a module instance: its register groups and parameters", 1, "getModuleInstance", {}}},
        {"definition", {"MODULE", "a module definition: its register groups", 1, "getModule", {}}},
        {"group", {"INSTANCE GROUP", "the registers of a register group of a module instance, with addresses", 2,
                   "getRegisterGroupInstance",
                   [](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                       printRegisterGroup(out, values.at(1).as_object());
                   }}},
        {"props", {"GROUP", "a property group", 1, "getPropertyGroup",
                   [](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                       for (const auto& property : values.at(1).at("properties").as_array())
                           out << textOf(property.at("name")) << " = " << textOf(property.at("value")) << "\n";
                   }}},
        {"applets", {"", "the boot-loader applets for the device", 0, "getAvailableApplets",
                     [](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                         for (const auto& kind : values.at(1).as_array())
                             for (const auto& applet : kind.at("applets").as_array())
                                 out << textOf(kind.at("type")) << " " << textOf(applet.at("name")) << " "
                                     << textOf(applet.at("path")) << "\n";
                     }}},
        {"peripherals", {"", "the peripherals, with base address and description (from the pack manager)", 0,
                         "peripherals",
                         [](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                             for (const auto& peripheral : values.at(1).as_array())
                                 out << padded(textOf(peripheral.at("name")), 16)
                                     << padded(hexText(numberOf(peripheral.at("address")), 8), 13)
                                     << textOf(peripheral.at("description")) << "\n";
                         },
                         "Packs"}},
    };
    return table;
}

std::string deviceUsage() { return tableUsage("NAME [PART ...], where PART is one of:", deviceParts()); }

int deviceVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 1, 4, "device", deviceUsage());
    if (arguments.size() == 1)
        return summary(context, arguments[0]);
    const auto& part = actionOf(deviceParts(), arguments[1], "device", "part", deviceUsage());
    requireArguments(arguments, 2 + part.count, 2 + part.count, "device NAME " + arguments[1],
                     part.arguments.empty() ? "no more arguments" : part.arguments);
    std::vector<std::string> tcfArguments;
    for (std::size_t i = 0; i < arguments.size(); ++i)
        if (i != 1)
            tcfArguments.push_back(jsonText(arguments[i]));
    const auto reply = context.client.call(part.service, part.command, tcfArguments);
    for (const auto& text : reply.recognised ? reply.values : std::vector<std::string>{}) {
        const auto value = parseOrNull(text);
        if (errorReportMessage(value).empty())
            continue;
        if (const auto* code = value.as_object().if_contains("Code"); code && code->is_int64())
            context.replyCode = code->as_int64();
        requireKnownDevice(context, arguments[0]);
    }
    return printReply(context, reply, part.service + " " + part.command, part.human);
}

int sessionVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    const std::string usage = "start ID debug|program, or end ID";
    requireArguments(arguments, 2, 3, "session", usage);
    if (arguments[0] == "end" && arguments.size() == 2)
        return callAndPrint(context, kDevice, "endSession", {jsonText(arguments[1])},
                            [](std::ostream& out, const auto&, const auto&) { out << "session ended\n"; });
    if (arguments[0] != "start" || arguments.size() != 3 || (arguments[2] != "debug" && arguments[2] != "program"))
        throw UsageError("session needs " + usage);
    const std::string type = arguments[2] == "debug" ? "DebuggingSession" : "ProgrammingSession";
    return callAndPrint(context, kDevice, "startSession", {jsonText(arguments[1]), jsonText(type)},
                        [type](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                            out << type << " started";
                            for (const auto& [key, value] : values.at(1).as_object())
                                out << ", " << key << " " << hexText(numberOf(value));
                            out << "\n";
                        });
}

int eraseVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 1, 1, "erase", "ID");
    return callAndPrint(context, kDevice, "erase", {jsonText(arguments[0])},
                        [](std::ostream& out, const auto&, const auto&) { out << "erased\n"; });
}

} // namespace

void addDeviceVerbs(VerbTable& table)
{
    table.insert({"device", {"NAME [PART ...]",
                             "describe a device: its address spaces, or one part (space, module, definition, group, "
                             "props, applets, peripherals)",
                             deviceVerb, true, deviceUsage}});
    table.insert({"session", {"start ID debug|program | end ID", "start or end a session on a device context", sessionVerb}});
    table.insert({"erase", {"ID", "erase a device's flash", eraseVerb}});
}

} // namespace hil::cli
