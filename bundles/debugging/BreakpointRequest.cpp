// SPDX-License-Identifier: Apache-2.0
#include "bundles/debugging/BreakpointRequest.h"

#include <algorithm>
#include <charconv>

#include <boost/json.hpp>

#include "core/frame/CommandArguments.h"

namespace hil::debugging {

namespace json = boost::json;

namespace {

// The access bits of "AccessMode".
constexpr std::int64_t kRead = 0x01;
constexpr std::int64_t kWrite = 0x02;
constexpr std::int64_t kExecute = 0x04;

/// Properties whose meaning this back-end cannot honour: planting the breakpoint without them
/// would stop where the client did not ask.
constexpr const char* kUnsupported[] = {"Condition", "StopGroup", "Mask", "MaskValue", "Time",
                                        "ContextQuery", "ContextNames", "ExecPaths"};

// The error codes of a problem.
constexpr int kWrongKind = 3;
constexpr int kBadSize = 15;
constexpr int kNotAnAddress = 18;
constexpr int kUnsupportedProperty = 23;

struct Problem {
    int code = 0;
    std::string text;
};

/// "0x400", "1024" or a JSON number; nullopt for anything else.
std::optional<std::uint64_t> addressOf(const json::value& location)
{
    if (location.is_uint64())
        return location.get_uint64();
    if (location.is_int64())
        return location.get_int64() >= 0 ? std::optional<std::uint64_t>(location.get_int64()) : std::nullopt;
    if (!location.is_string())
        return std::nullopt;
    std::string_view text = location.get_string();
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t address = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), address, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return address;
}

const json::value* member(const json::object& object, const char* key)
{
    const auto* value = object.if_contains(key);
    return value && !value->is_null() ? value : nullptr;
}

/// Reads what decides where and how the breakpoint is planted; returns the first problem.
Problem readPlacement(BreakpointRequest& request)
{
    const auto& properties = request.properties;
    for (const char* key : kUnsupported)
        if (const auto* value = member(properties, key); value && !(value->is_string() && value->get_string().empty()))
            return {kUnsupportedProperty, std::string("\"") + key + "\" is not supported by this back-end"};
    const auto* location = member(properties, "Location");
    if (!location)
        return {kNotAnAddress, member(properties, "File") ? "a source line needs its address: give a \"Location\" "
                                                            "(symbols and lines are the front-end's)"
                                                          : "a breakpoint needs a \"Location\""};
    const auto address = addressOf(*location);
    if (!address)
        return {kNotAnAddress, "\"Location\" " + json::serialize(*location) +
                                   " is not an address: give a number such as \"0x400\" (symbols are the front-end's)"};
    request.address = *address;

    std::int64_t access = kExecute;
    if (const auto* mode = member(properties, "AccessMode")) {
        if (!mode->is_int64())
            return {kWrongKind, "\"AccessMode\" is a number"};
        access = mode->get_int64();
    }
    if (access == kExecute) {
        const auto* type = member(properties, "BreakpointType");
        const std::string typeName = type && type->is_string() ? std::string(type->get_string()) : "Auto";
        if (typeName != "Auto" && typeName != "Software" && typeName != "Hardware")
            return {kWrongKind, "\"BreakpointType\" is \"Software\", \"Hardware\" or \"Auto\", not " + json::serialize(*type)};
        request.kind = typeName == "Hardware" ? StopPointKind::HardwareBreakpoint : StopPointKind::SoftwareBreakpoint;
        return {};
    }
    if (access == kRead)
        request.kind = StopPointKind::ReadWatchpoint;
    else if (access == kWrite)
        request.kind = StopPointKind::WriteWatchpoint;
    else if (access == (kRead | kWrite))
        request.kind = StopPointKind::AccessWatchpoint;
    else
        return {kUnsupportedProperty, "\"AccessMode\" " + std::to_string(access) +
                                          " is not one this back-end plants: 4 (execute), 1 (read), 2 (write) or 3 "
                                          "(read or write)"};
    request.size = 4;
    if (const auto* size = member(properties, "Size")) {
        const std::uint64_t sizes[] = {1, 2, 4, 8};
        if (!size->is_int64() || std::find(std::begin(sizes), std::end(sizes), size->get_int64()) == std::end(sizes))
            return {kBadSize, "a watchpoint's \"Size\" is 1, 2, 4 or 8 bytes, not " + json::serialize(*size)};
        request.size = static_cast<std::uint64_t>(size->get_int64());
    }
    if (request.address % request.size != 0)
        return {kBadSize, "a watchpoint of " + std::to_string(request.size) + " bytes sits at a multiple of its size"};
    return {};
}

/// Reads what decides when it stops; returns the first problem.
Problem readBehaviour(BreakpointRequest& request)
{
    const auto& properties = request.properties;
    if (const auto* enabled = member(properties, "Enabled")) {
        if (!enabled->is_bool())
            return {kWrongKind, "\"Enabled\" is true or false"};
        request.enabled = enabled->get_bool();
    }
    if (const auto* temporary = member(properties, "Temporary")) {
        if (!temporary->is_bool())
            return {kWrongKind, "\"Temporary\" is true or false"};
        request.temporary = temporary->get_bool();
    }
    if (const auto* ignore = member(properties, "IgnoreCount")) {
        if (!ignore->is_int64() || ignore->get_int64() < 0)
            return {kWrongKind, "\"IgnoreCount\" is a number of hits, 0 or more"};
        request.ignoreCount = static_cast<std::uint64_t>(ignore->get_int64());
    }
    if (const auto* ids = member(properties, "ContextIds")) {
        if (!ids->is_array())
            return {kWrongKind, "\"ContextIds\" is a list of context ids"};
        for (const auto& id : ids->get_array()) {
            if (!id.is_string())
                return {kWrongKind, "\"ContextIds\" is a list of context ids"};
            request.contextIds.emplace_back(id.get_string());
        }
    }
    return {};
}

} // namespace

BreakpointRequest BreakpointRequest::read(const json::value& properties)
{
    if (!properties.is_object())
        throwArgumentError();
    BreakpointRequest request;
    request.properties = properties.get_object();
    const auto* id = request.properties.if_contains("ID");
    if (!id || !id->is_string() || id->get_string().empty())
        throwArgumentError();
    request.id = std::string(id->get_string());
    auto problem = readBehaviour(request);
    if (problem.text.empty())
        problem = readPlacement(request);
    request.problem = std::move(problem.text);
    request.problemCode = problem.code;
    return request;
}

bool BreakpointRequest::appliesTo(const std::string& targetId) const
{
    return contextIds.empty() || std::find(contextIds.begin(), contextIds.end(), targetId) != contextIds.end();
}

std::string breakpointTypeName(StopPointKind kind)
{
    switch (kind) {
    case StopPointKind::SoftwareBreakpoint:
        return "Software";
    case StopPointKind::WrittenBreakpoint:
        return "Software (written to memory)";
    default:
        return "Hardware";
    }
}

} // namespace hil::debugging
