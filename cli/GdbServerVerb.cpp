// SPDX-License-Identifier: Apache-2.0
// The gdbserver verb: a GDB server for a tool's target, and the line that points gdb at it.

#include <boost/json.hpp>

#include "cli/CliCommands.h"
#include "platform/common/TextNumbers.h"

namespace hil::cli {

namespace {

const std::string kVerb = "gdbserver";

std::string textOrEmpty(const boost::json::object& object, const char* key)
{
    const auto* value = object.if_contains(key);
    return value && value->is_string() ? std::string(value->get_string()) : std::string();
}

int gdbServerVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 1, 2, kVerb, "TOOL [PORT]");
    const std::string tool = arguments[0];
    const std::uint64_t port = arguments.size() > 1 ? numberArgument(arguments[1], kVerb, "port") : 0;
    if (port > 65535)
        throw UsageError(kVerb + ": a port is 0 (any free one) to 65535, not " + arguments[1]);
    requireService(context, "GdbServer", kVerb);
    const boost::json::object asked{{"GdbServer", port}};
    callChecked(context, "Tool", "setProperties", {jsonText(tool), jsonText(asked)}, kVerb);
    const auto reply = callChecked(context, "Tool", "getContext", {jsonText(tool)}, kVerb);
    const auto& properties = reply.at(1).as_object();
    if (const auto error = textOrEmpty(properties, "GdbServerError"); !error.empty())
        throw ReplyError(kVerb + ": " + error);
    const auto* opened = properties.if_contains("GdbServerPort");
    if (!opened || !opened->is_number()) {
        if (textOrEmpty(properties, "State") == "Ready")
            throw ReplyError(kVerb + ": the target of " + tool + " has no run control, and a GDB server serves targets "
                                     "that can be halted and run");
        throw ReplyError(kVerb + ": " + tool + " has no target yet: its server opens when it connects (tool " + tool +
                         " connect)");
    }
    const auto listening = opened->to_number<std::int64_t>();
    std::string address = "127.0.0.1";
    const auto servers = callForValues(context, "GdbServer", "getServers", {});
    for (const auto& server : servers.at(1).as_array())
        if (const auto& entry = server.as_object(); entry.at("Port").to_number<std::int64_t>() == listening)
            address = textOrEmpty(entry, "Address");
    const std::string command = "target extended-remote " + address + ":" + std::to_string(listening);
    setData(context, boost::json::object{{"Address", address}, {"Port", listening}, {"Command", command}});
    if (!context.json)
        context.out << command << "\n";
    return ExitCode::Ok;
}

} // namespace

void addGdbServerVerb(VerbTable& table)
{
    table.insert({kVerb, {"TOOL [PORT]",
                          "open a GDB server for the tool's target (on PORT, default any free one) and print the "
                          "line that points gdb at it",
                          gdbServerVerb}});
}

} // namespace hil::cli
