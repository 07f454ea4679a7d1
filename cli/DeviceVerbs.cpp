// The verbs that read device descriptions and drive device contexts through the "Device" service.

#include <iomanip>
#include <sstream>

#include <boost/json.hpp>

#include "cli/CliCommands.h"

namespace hil::cli {

namespace {

const std::string kDevice = "Device";

std::string text(const boost::json::value& value)
{
    return value.is_string() ? std::string(value.get_string()) : boost::json::serialize(value);
}

std::string hex(std::uint64_t number)
{
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << number;
    return out.str();
}

std::uint64_t number(const boost::json::value& value)
{
    boost::system::error_code error;
    const auto result = value.to_number<std::uint64_t>(error);
    return error ? 0 : result;
}

/// Prints a register group: its place, then one line per register with its address.
void printRegisterGroup(std::ostream& out, const boost::json::object& group)
{
    const bool placed = group.contains("address");
    out << text(group.at("name")) << ": " << number(group.at("size")) << " bytes";
    if (placed)
        out << " at " << hex(number(group.at("address"))) << " in " << text(group.at("address-space"));
    else
        out << " (a definition: offsets only)";
    out << "\n";
    const std::uint64_t base = placed ? number(group.at("address")) : 0;
    for (const auto& reg : group.at("registers").as_array()) {
        out << "  " << std::left << std::setw(12) << hex(base + number(reg.at("offset"))) << std::setw(12)
            << text(reg.at("name")) << number(reg.at("size")) << " byte(s)";
        for (const auto& bitfield : reg.at("bitfields").as_array())
            out << "  " << text(bitfield.at("name")) << "=" << hex(number(bitfield.at("mask")));
        out << "\n";
    }
}

/// The device summary: name, architecture, and each address space with its segments.
int summary(CliContext& context, const std::string& name)
{
    const auto info = callForValues(context, kDevice, "getDeviceInfo", {jsonString(name)}).at(1).as_object();
    boost::json::array spaces;
    for (const auto& id : info.at("addresspaces").as_array())
        spaces.push_back(callForValues(context, kDevice, "getAddresspaceInfo", {jsonString(name), jsonString(text(id))}).at(1));
    if (context.json) {
        context.out << boost::json::serialize(boost::json::object{{"device", info}, {"addressSpaces", spaces}}) << "\n";
        return ExitCode::Ok;
    }
    context.out << text(info.at("name")) << ": " << text(info.at("architecture")) << ", series "
                << text(info.at("series")) << "\n";
    for (const auto& space : spaces) {
        const auto start = number(space.at("start"));
        context.out << "  " << std::left << std::setw(12) << text(space.at("name")) << hex(start) << " + "
                    << hex(number(space.at("size"))) << " (" << text(space.at("endianness")) << ")";
        for (const auto& segment : space.at("segments").as_array())
            context.out << "  " << text(segment.at("name")) << "@" << hex(number(segment.at("start")));
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
};

const std::map<std::string, DevicePart>& deviceParts()
{
    static const std::map<std::string, DevicePart> table{
        {"space", {"SPACE", "an address space and its memory segments", 1, "getAddresspaceInfo", {}}},
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
                           out << text(property.at("name")) << " = " << text(property.at("value")) << "\n";
                   }}},
        {"applets", {"", "the boot-loader applets for the device", 0, "getAvailableApplets",
                     [](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                         for (const auto& kind : values.at(1).as_array())
                             for (const auto& applet : kind.at("applets").as_array())
                                 out << text(kind.at("type")) << " " << text(applet.at("name")) << " "
                                     << text(applet.at("path")) << "\n";
                     }}},
    };
    return table;
}

std::string deviceUsage() { return tableUsage("NAME [PART ...], where PART is one of:", deviceParts()); }

int deviceVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 1, 4, "device", deviceUsage());
    if (arguments.size() == 1)
        return summary(context, arguments[0]);
    const auto entry = deviceParts().find(arguments[1]);
    if (entry == deviceParts().end())
        throw UsageError("device has no part " + arguments[1] + "; it needs " + deviceUsage());
    const auto& part = entry->second;
    requireArguments(arguments, 2 + part.count, 2 + part.count, "device NAME " + arguments[1],
                     part.arguments.empty() ? "no more arguments" : part.arguments);
    std::vector<std::string> tcfArguments;
    for (std::size_t i = 0; i < arguments.size(); ++i)
        if (i != 1)
            tcfArguments.push_back(jsonString(arguments[i]));
    return callAndPrint(context, kDevice, part.command, tcfArguments, part.human);
}

int sessionVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    const std::string usage = "start ID debug|program, or end ID";
    requireArguments(arguments, 2, 3, "session", usage);
    if (arguments[0] == "end" && arguments.size() == 2)
        return callAndPrint(context, kDevice, "endSession", {jsonString(arguments[1])},
                            [](std::ostream& out, const auto&, const auto&) { out << "session ended\n"; });
    if (arguments[0] != "start" || arguments.size() != 3 || (arguments[2] != "debug" && arguments[2] != "program"))
        throw UsageError("session needs " + usage);
    const std::string type = arguments[2] == "debug" ? "DebuggingSession" : "ProgrammingSession";
    return callAndPrint(context, kDevice, "startSession", {jsonString(arguments[1]), jsonString(type)},
                        [type](std::ostream& out, const boost::json::array& values, const std::vector<std::string>&) {
                            out << type << " started";
                            for (const auto& [key, value] : values.at(1).as_object())
                                out << ", " << key << " " << hex(number(value));
                            out << "\n";
                        });
}

int eraseVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 1, 1, "erase", "ID");
    return callAndPrint(context, kDevice, "erase", {jsonString(arguments[0])},
                        [](std::ostream& out, const auto&, const auto&) { out << "erased\n"; });
}

} // namespace

void addDeviceVerbs(VerbTable& table)
{
    table.insert({"device", {"NAME [PART ...]",
                             "describe a device: its address spaces, or one part (space, module, definition, group, "
                             "props, applets)",
                             deviceVerb}});
    table.insert({"session", {"start ID debug|program | end ID", "start or end a session on a device context", sessionVerb}});
    table.insert({"erase", {"ID", "erase a device's flash", eraseVerb}});
}

} // namespace hil::cli
