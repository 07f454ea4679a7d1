// SPDX-License-Identifier: Apache-2.0
// The verbs of the "Packs" service: which devices the pack manager knows, and a peripheral of a
// device read from the target as an IDE's peripheral view shows it.

#include <boost/json.hpp>

#include "cli/CliCommands.h"
#include "platform/common/TextForPeople.h"

namespace hil::cli {

namespace {

const std::string kPacks = "Packs";

int devicesVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 0, 1, "devices", "[FILTER]");
    const std::vector<std::string> filter = arguments.empty() ? std::vector<std::string>{} : std::vector{jsonText(arguments[0])};
    return callAndPrint(context, kPacks, "list", filter, [](std::ostream& out, const boost::json::array& values, const auto&) {
        std::vector<std::vector<std::string>> rows;
        for (const auto& device : values.at(1).as_array())
            rows.push_back({textOf(device.at("name")), textOf(device.at("core")), textOf(device.at("vendor")),
                            textOf(device.at("source"))});
        out << alignedRows(rows, {24, 14, 20});
    });
}

/// The field's value: its bits of the register's, shifted down.
std::uint64_t fieldValue(std::uint64_t registerValue, std::uint64_t mask)
{
    std::uint64_t value = registerValue & mask;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        value >>= 1;
    }
    return value;
}

/// "[7:4]" or "[3]".
std::string bitRange(std::uint64_t mask)
{
    int low = 0;
    while (low < 64 && !((mask >> low) & 1))
        ++low;
    int high = 63;
    while (high > low && !((mask >> high) & 1))
        --high;
    return "[" + std::to_string(high) + (high == low ? "" : ":" + std::to_string(low)) + "]";
}

/// Reads one register through Memory "get", at its own width. Null when the target refused it,
/// or when reading it would change the target (a FIFO, a flag cleared on read) or it cannot be
/// read: the view must not disturb what it shows.
boost::json::object readRegister(CliContext& context, const std::string& memoryId, const boost::json::object& reg,
                                 bool bigEndian)
{
    boost::json::object result{{"name", reg.at("name")}, {"address", reg.at("address")}, {"size", reg.at("size")},
                               {"description", reg.at("description")}, {"value", nullptr}};
    const std::string rw = textOf(reg.at("rw"));
    if (reg.at("sideEffect").as_bool() || rw == "W") {
        result["skipped"] = rw == "W" ? "write-only" : "reading it changes the target";
        return result;
    }
    const std::string size = std::to_string(numberOf(reg.at("size")));
    const auto values = callForValues(context, "Memory", "get",
                                      {jsonText(memoryId), std::to_string(numberOf(reg.at("address"))), size, size, "0"});
    if (!values.at(2).as_array().empty()) {
        result["skipped"] = "the target refused the read";
        return result;
    }
    const std::uint64_t value = numberOfBytes(bytesOf(values.at(0)), bigEndian);
    result["value"] = value;
    boost::json::array fields;
    for (const auto& fieldValueJson : reg.at("fields").as_array()) {
        const auto& field = fieldValueJson.as_object();
        const std::uint64_t mask = numberOf(field.at("mask"));
        const std::uint64_t bits = fieldValue(value, mask);
        std::string named;
        for (const auto& option : field.at("values").as_array())
            if (numberOf(option.at("value")) == bits)
                named = textOf(option.at("name"));
        fields.push_back(boost::json::object{{"name", field.at("name")}, {"bits", bitRange(mask)}, {"value", bits}, {"valueName", named}});
    }
    result["fields"] = std::move(fields);
    return result;
}

void printPeripheral(std::ostream& out, const boost::json::object& view)
{
    out << textOf(view.at("name")) << " at " << hexText(numberOf(view.at("address")), 8);
    if (const auto description = textOf(view.at("description")); !description.empty())
        out << ": " << description;
    out << "\n";
    for (const auto& entry : view.at("registers").as_array()) {
        const auto& reg = entry.as_object();
        out << "  " << hexText(numberOf(reg.at("address")), 8) << "  " << padded(textOf(reg.at("name")), 14);
        if (reg.at("value").is_null()) {
            out << "(not read: " << textOf(reg.at("skipped")) << ")\n";
            continue;
        }
        out << hexText(numberOf(reg.at("value")), static_cast<int>(2 * numberOf(reg.at("size"))));
        if (const auto description = textOf(reg.at("description")); !description.empty())
            out << "  " << description;
        out << "\n";
        for (const auto& fieldEntry : reg.at("fields").as_array()) {
            const auto& field = fieldEntry.as_object();
            out << "      " << padded(textOf(field.at("name")), 16) << padded(textOf(field.at("bits")), 8)
                << numberOf(field.at("value"));
            if (const auto name = textOf(field.at("valueName")); !name.empty())
                out << "  " << name;
            out << "\n";
        }
    }
}

int peripheralVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 2, 2, "peripheral", "DEVICE-ID INSTANCE (a device context such as sim-1.DEMO32)");
    const std::string deviceId = arguments[0];
    const auto properties = callForValues(context, "Device", "getContext", {jsonText(deviceId)}).at(1).as_object();
    const auto* name = properties.if_contains("Name");
    if (!name || !name->is_string())
        throw ReplyError(deviceId + " is not a device context: it has no Name");
    const auto described = callForValues(context, kPacks, "registers", {jsonText(std::string(name->get_string())), jsonText(arguments[1])})
                               .at(1)
                               .as_object();
    const std::string memoryId = deviceId + "." + textOf(described.at("addressSpace"));
    const bool bigEndian = described.at("bigEndian").as_bool();
    boost::json::array registers;
    for (const auto& reg : described.at("registers").as_array())
        registers.push_back(readRegister(context, memoryId, reg.as_object(), bigEndian));
    boost::json::object view{{"name", described.at("name")},
                             {"address", described.at("address")},
                             {"description", described.at("description")},
                             {"registers", std::move(registers)}};
    if (context.json)
        setData(context, view);
    else
        printPeripheral(context.out, view);
    return ExitCode::Ok;
}

} // namespace

void addPackVerbs(VerbTable& table)
{
    table.insert({"devices", {"[FILTER]", "list the devices the pack manager knows (name, vendor or family containing FILTER)", devicesVerb}});
    table.insert({"peripheral", {"DEVICE-ID INSTANCE",
                                 "read every register of a peripheral from the target and show its fields and their values",
                                 peripheralVerb}});
}

} // namespace hil::cli
