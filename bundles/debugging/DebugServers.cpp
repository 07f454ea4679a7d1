// SPDX-License-Identifier: Apache-2.0
#include <map>

#include <boost/json.hpp>

#include "bundles/debugging/DebugServices.h"
#include "core/frame/ErrorDescr.h"
#include "platform/common/JsonText.h"

namespace hil::debugging {

namespace json = boost::json;

namespace {

constexpr int kUnsupported = 23;
constexpr int kInvalidContext = 16;

/// A frame's id: its target's, and its index from the top.
const std::string kFrameMark = ".frame";

json::value optionalNumber(const std::optional<std::uint64_t>& number)
{
    return number ? json::value(*number) : json::value(nullptr);
}

json::array idArray(const std::vector<std::string>& ids) { return json::array(ids.begin(), ids.end()); }

std::vector<std::string> idList(const json::array& array)
{
    std::vector<std::string> ids;
    for (const auto& id : array)
        ids.push_back(json_read::string(id));
    return ids;
}

/// A parent id given as null or "": the roots.
bool isRoot(const CommandArguments& arguments) { return arguments.value(0).is_null() || arguments.rawText(0) == "\"\""; }

} // namespace

RunControlServer::RunControlServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    addValueCommand("getContext", 1, 1, [this](const CommandArguments& a) { return service()->targets().contextOf(a.string(0)); });
    setReplyLength("getContext", 2);
    addValueCommand("getChildren", 1, 1, [this](const CommandArguments& a) {
        if (isRoot(a))
            return json::value(idArray(service()->targets().targetIds()));
        service()->targets().contextOf(a.string(0));
        return json::value(json::array());
    });
    setReplyLength("getChildren", 2);
    const auto stateCommand = [this](bool withPc) {
        return [this, withPc](const CommandArguments& a, tcf::IIntermediateResult&, Results& results) {
            a.requireCount(1);
            const auto state = service()->targets().state(a.string(0));
            results.push_back(emptyError());
            results.push_back(jsonText(json::value(state.suspended)));
            if (withPc)
                results.push_back(jsonText(optionalNumber(state.pc)));
            results.push_back(state.suspended ? jsonText(state.reason) : "null");
            results.push_back(state.suspended ? jsonText(state.data) : "null");
        };
    };
    addCommand("getState", stateCommand(true));
    setReplyLength("getState", 5);
    addCommand("getMinState", stateCommand(false));
    setReplyLength("getMinState", 4);
    addCommand("suspend", [this](const CommandArguments& a, tcf::IIntermediateResult&, Results& results) {
        a.requireCount(1);
        service()->targets().suspend(a.string(0));
        results.push_back(emptyError());
    });
    addCommand("resume", [this](const CommandArguments& a, tcf::IIntermediateResult&, Results& results) {
        if (a.count() != 3 && a.count() != 4)
            throwInvalidNumberOfArguments("resume", a);
        service()->targets().resume(a.string(0), a.int64(1), a.int64(2));
        results.push_back(emptyError());
    });
    for (const char* refused : {"terminate", "detach"})
        addCommand(refused, [this, refused](const CommandArguments& a, tcf::IIntermediateResult&, Results&) {
            a.requireCount(1);
            service()->targets().contextOf(a.string(0));
            throw ErrorDescr(kUnsupported, serviceName(),
                             std::string("A target cannot be told to ") + refused +
                                 ": tear its tool down, or reset it through the tool");
        });
}

BreakpointsServer::BreakpointsServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    removeCommand("getContext");
    removeCommand("getChildren");
    const auto client = [this] { return debugger_.getCurrentOwnerSlot().get().value_or(0); };
    const auto simple = [this](const char* name, std::function<void(const CommandArguments&)> work) {
        addCommand(name, [work = std::move(work)](const CommandArguments& a, tcf::IIntermediateResult&, Results& results) {
            a.requireCount(1);
            work(a);
            results.push_back(emptyError());
        });
    };
    simple("set", [this, client](const CommandArguments& a) {
        std::vector<BreakpointRequest> table;
        if (!a.value(0).is_null())
            for (const auto& properties : a.array(0))
                table.push_back(BreakpointRequest::read(properties));
        service()->targets().setTable(client(), table);
    });
    simple("add", [this, client](const CommandArguments& a) {
        service()->targets().add(client(), BreakpointRequest::read(a.object(0)));
    });
    simple("change", [this](const CommandArguments& a) { service()->targets().change(BreakpointRequest::read(a.object(0))); });
    simple("enable", [this](const CommandArguments& a) { service()->targets().enable(idList(a.array(0)), true); });
    simple("disable", [this](const CommandArguments& a) { service()->targets().enable(idList(a.array(0)), false); });
    simple("remove", [this, client](const CommandArguments& a) { service()->targets().remove(client(), idList(a.array(0))); });
    addValueCommand("getIDs", 0, 0, [this](const CommandArguments&) { return idArray(service()->targets().breakpointIds()); });
    setReplyLength("getIDs", 2);
    addValueCommand("getProperties", 1, 1,
                    [this](const CommandArguments& a) { return service()->targets().breakpointProperties(a.string(0)); });
    setReplyLength("getProperties", 2);
    addValueCommand("getStatus", 1, 1,
                    [this](const CommandArguments& a) { return service()->targets().breakpointStatus(a.string(0)); });
    setReplyLength("getStatus", 2);
    addValueCommand("getCapabilities", 1, 1, [](const CommandArguments& a) {
        return json::object{{"ID", a.value(0).is_string() ? a.value(0) : json::value("")},
                            {"HasChildren", false},
                            {"AccessMode", 0x07},
                            {"BreakpointType", true},
                            {"Location", true},
                            {"ContextIds", true},
                            {"Temporary", true},
                            {"IgnoreCount", true},
                            {"ClientData", true},
                            {"Condition", false},
                            {"FileLine", false},
                            {"FileMapping", false},
                            {"ContextNames", false},
                            {"ContextQuery", false},
                            {"StopGroup", false},
                            {"SkipPrologue", false},
                            {"CrossTrigger", false}};
    });
    setReplyLength("getCapabilities", 2);
}

StackTraceServer::StackTraceServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    // Bottom to top, as the service lists them; index 0 is the top.
    const auto frameIds = [this](const std::string& target) {
        const auto count = service()->targets().stack(target).size();
        std::vector<std::string> ids;
        for (std::size_t index = count; index-- > 0;)
            ids.push_back(target + kFrameMark + std::to_string(index));
        return ids;
    };
    addValueCommand("getChildren", 1, 1, [frameIds](const CommandArguments& a) { return idArray(frameIds(a.string(0))); });
    setReplyLength("getChildren", 2);
    addValueCommand("getChildrenRange", 3, 3, [frameIds](const CommandArguments& a) {
        auto ids = frameIds(a.string(0));
        std::reverse(ids.begin(), ids.end());
        json::array range;
        for (std::int64_t index = std::max<std::int64_t>(a.int64(1), 0);
             index <= a.int64(2) && index < static_cast<std::int64_t>(ids.size()); ++index)
            range.push_back(json::value(ids[static_cast<std::size_t>(index)]));
        return range;
    });
    setReplyLength("getChildrenRange", 2);
    removeCommand("getContext");
    addCommand("getContext", [this](const CommandArguments& a, tcf::IIntermediateResult&, Results& results) {
        a.requireCount(1);
        // The frames come first in this reply: a failure replies null before its error.
        results.push_back("null");
        json::array frames;
        // A target's stack and context are read once, however many of its frames are asked for.
        std::map<std::string, std::pair<std::vector<StackFrame>, json::object>> read;
        const auto targetOf = [&](const std::string& target) -> const auto& {
            auto found = read.find(target);
            if (found == read.end())
                found = read.emplace(target, std::pair(service()->targets().stack(target),
                                                       service()->targets().contextOf(target)))
                            .first;
            return found->second;
        };
        for (const auto& id : idList(a.array(0))) {
            const auto mark = id.rfind(kFrameMark);
            if (mark == std::string::npos) {
                frames.push_back(nullptr);
                continue;
            }
            const std::string target = id.substr(0, mark);
            const auto& [stack, context] = targetOf(target);
            const std::string indexText = id.substr(mark + kFrameMark.size());
            const std::size_t index = indexText.size() == 1 && std::isdigit(static_cast<unsigned char>(indexText[0]))
                                          ? static_cast<std::size_t>(indexText[0] - '0')
                                          : stack.size();
            if (index >= stack.size()) {
                frames.push_back(nullptr);
                continue;
            }
            json::object frame{{"ID", id},
                               {"ParentID", target},
                               {"TopFrame", index == 0},
                               {"Index", index},
                               {"Level", stack.size() - 1 - index},
                               {"IP", stack[index].ip}};
            if (context.contains("ProcessID"))
                frame["ProcessID"] = context.at("ProcessID");
            if (stack[index].returnAddress)
                frame["RP"] = *stack[index].returnAddress;
            frames.push_back(std::move(frame));
        }
        results.front() = jsonText(frames);
        results.push_back(emptyError());
    });
}

} // namespace hil::debugging
