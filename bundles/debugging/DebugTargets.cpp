// SPDX-License-Identifier: Apache-2.0
#include "bundles/debugging/DebugTargets.h"

#include <algorithm>
#include <cctype>
#include <future>

#include <boost/json.hpp>

#include "core/frame/ErrorDescr.h"
#include "core/interfaces/IDeviceService.h"
#include "core/interfaces/IToolContext.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/JsonText.h"
#include "platform/common/ThreadName.h"
#include "platform/tcf/Protocol.h"

namespace hil::debugging {

namespace json = boost::json;

namespace {

const std::string kLog = "debugging";
const std::string kRunControl = "RunControl";
const std::string kBreakpoints = "Breakpoints";
const std::string kStackTrace = "StackTrace";
/// The breakpoint property in which a front-end of the back-end's own names itself.
const std::string kPlantedBy = "PlantedBy";

// TCF's standard error codes.
constexpr int kOther = 1;
constexpr int kAlreadyStopped = RunControlError::AlreadyStopped;
constexpr int kAlreadyRunning = RunControlError::AlreadyRunning;
constexpr int kIsRunning = 14;
constexpr int kInvalidContext = 16;
constexpr int kInvalidNumber = 20;
constexpr int kUnsupported = 23;

// The resume modes a target takes: run, and one instruction as "step over" and "step into" (with
// no line information an instruction is the step); steps may be counted.
constexpr std::int64_t kResume = 0;
constexpr std::int64_t kStepOver = 1;
constexpr std::int64_t kStepInto = 2;
constexpr std::int64_t kResumeModes = 1 << kResume | 1 << kStepOver | 1 << kStepInto;
constexpr std::int64_t kCountedModes = 1 << kStepOver | 1 << kStepInto;

[[noreturn]] void fail(const std::string& service, int code, const std::string& text) { throw ErrorDescr(code, service, text); }

void send(const std::string& service, const std::string& event, std::vector<std::string> arguments)
{
    tcf::Protocol::sendEvent(service, event, arguments);
}

std::string reasonName(StopReason reason)
{
    switch (reason) {
    case StopReason::Suspended:
        return "Suspended";
    case StopReason::Step:
        return "Step";
    case StopReason::Breakpoint:
        return "Breakpoint";
    case StopReason::Watchpoint:
        return "Watchpoint";
    case StopReason::Exception:
        return "Exception";
    case StopReason::Signal:
        return "Signal";
    }
    return "Suspended";
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

/// Whether a link register holds the return address of a caller: not an exception return
/// (0xFxxxxxxx on Cortex-M), not empty.
bool isReturnAddress(std::uint64_t lr) { return lr != 0 && lr < 0xF0000000u; }

const char* modeName(std::int64_t mode)
{
    static const char* const names[] = {"resume", "step over", "step into", "step over line", "step into line",
                                        "step out", "reverse resume", "reverse step over", "reverse step into",
                                        "reverse step over line", "reverse step into line", "reverse step out",
                                        "step over range", "step into range", "reverse step over range",
                                        "reverse step into range", "until active", "reverse until active"};
    return mode >= 0 && mode < static_cast<std::int64_t>(std::size(names)) ? names[mode] : nullptr;
}

} // namespace

struct DebugTargets::Target {
    std::string id;
    std::shared_ptr<IDeviceContext> device;
    IRunControl* control = nullptr;
    std::vector<boost::signals2::scoped_connection> connections;
    /// A run of steps is under way: its steps' stops are not told, the run's end is.
    std::atomic<bool> stepping{false};
    std::atomic<bool> cancelSteps{false};
    /// The target is let go on after a hit every breakpoint there ignores: nobody hears of it.
    std::atomic<bool> quietResume{false};
    /// The stop last told, for getState; unset while the target runs.
    std::optional<RunState> lastReport;
    std::map<Place, Planted> planted;
    /// The register contexts by lower-case name, read when first needed.
    std::map<std::string, std::shared_ptr<IRegistersContext>> registers;
    std::string memoryId;
    /// Its RunControl context object.
    json::object context;
};

std::shared_ptr<DebugTargets> DebugTargets::of(IOrixDebugger& debugger)
{
    static std::mutex mutex;
    static std::map<IOrixDebugger*, std::weak_ptr<DebugTargets>> made;
    std::lock_guard lock(mutex);
    std::erase_if(made, [](const auto& entry) { return entry.second.expired(); });
    auto& entry = made[&debugger];
    auto targets = entry.lock();
    if (!targets) {
        targets = std::make_shared<DebugTargets>(debugger);
        targets->start();
        entry = targets;
    }
    return targets;
}

DebugTargets::DebugTargets(IOrixDebugger& debugger) : debugger_(debugger) {}

DebugTargets::~DebugTargets()
{
    registryConnections_.clear();
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    if (events_.joinable()) {
        // The last reference may be let go by a slot on the events thread itself.
        if (events_.get_id() == std::this_thread::get_id())
            events_.detach();
        else
            events_.join();
    }
}

void DebugTargets::start()
{
    events_ = std::thread([this] {
        setCurrentThreadName("debug events");
        runEvents();
    });
    attach();
}

void DebugTargets::attach()
{
    // The core's services are made before any bundle's, so the Device service is there.
    const auto devices = debugger_.getDeviceService();
    if (!devices) {
        BackendLogger::error(kLog, "No Device service: no target has run control");
        return;
    }
    const std::weak_ptr<DebugTargets> weak = weak_from_this();
    const auto withRunControl = [](const ContextList& contexts) {
        std::vector<std::shared_ptr<IDeviceContext>> found;
        for (const auto& context : contexts)
            if (auto device = std::dynamic_pointer_cast<IDeviceContext>(context); device && dynamic_cast<IRunControl*>(device.get()))
                found.push_back(std::move(device));
        return found;
    };
    registryConnections_.emplace_back(devices->addContextsAddedHandler([weak, withRunControl](ContextList& contexts) {
        if (auto found = withRunControl(contexts); !found.empty())
            if (const auto self = weak.lock())
                self->post([self = self.get(), found] { self->onDevicesAdded(found); });
    }));
    registryConnections_.emplace_back(devices->addContextsRemovedHandler([weak](ContextList& contexts) {
        std::vector<std::string> ids;
        for (const auto& context : contexts)
            if (context)
                ids.push_back(context->getId());
        if (const auto self = weak.lock(); self && !ids.empty())
            self->post([self = self.get(), ids] { self->onDevicesRemoved(ids); });
    }));
    // Targets set up before this object was made (kept ones): device contexts are roots.
    if (auto found = withRunControl(devices->getChildren(nullptr)); !found.empty())
        post([this, found] { onDevicesAdded(found); });
}

void DebugTargets::post(std::function<void()> work)
{
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(std::move(work));
    }
    queued_.notify_one();
}

void DebugTargets::catchUp()
{
    if (std::this_thread::get_id() == events_.get_id())
        return;
    {
        // Nothing queued and nothing under way: caught up already, without a round to the thread.
        std::lock_guard lock(queueMutex_);
        if (queue_.empty() && !handling_)
            return;
    }
    const auto handled = std::make_shared<std::promise<void>>();
    auto future = handled->get_future();
    post([handled] { handled->set_value(); });
    // Bounded: the events thread may be in a driver's call that waits for its time-out.
    future.wait_for(std::chrono::seconds(10));
}

void DebugTargets::runEvents()
{
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(queueMutex_);
            queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            work = std::move(queue_.front());
            queue_.pop_front();
            handling_ = true;
        }
        try {
            work();
        } catch (const std::exception& error) {
            BackendLogger::error(kLog, error.what());
        }
        std::lock_guard lock(queueMutex_);
        handling_ = false;
    }
}

// ---- the targets as they come, stop and go (on the events thread)

void DebugTargets::onDevicesAdded(const std::vector<std::shared_ptr<IDeviceContext>>& devices)
{
    std::lock_guard lock(mutex_);
    json::array added;
    std::vector<std::shared_ptr<Target>> fresh;
    const std::weak_ptr<DebugTargets> weak = weak_from_this();
    for (const auto& device : devices) {
        const std::string id = device->getId();
        if (targets_.contains(id))
            continue;
        auto target = std::make_shared<Target>();
        target->id = id;
        target->device = device;
        target->control = dynamic_cast<IRunControl*>(device.get());
        const std::weak_ptr<Target> weakTarget = target;
        target->connections.emplace_back(target->control->connectStopped([weak, weakTarget](const TargetStop& stop) {
            const auto self = weak.lock();
            const auto target = weakTarget.lock();
            if (self && target && !target->stepping)
                self->post([self = self.get(), target, stop] { self->onStopped(target, stop); });
        }));
        target->connections.emplace_back(target->control->connectResumed([weak, weakTarget] {
            const auto self = weak.lock();
            const auto target = weakTarget.lock();
            if (!self || !target || target->quietResume || target->stepping)
                return;
            self->post([self = self.get(), target] {
                std::lock_guard lock(self->mutex_);
                self->tellResumed(*target);
            });
        }));
        if (const auto parent = debugger_.getParentLookup().findParent(id))
            if (const auto memories = parent->listMemoryContexts(); !memories.empty())
                target->memoryId = memories.front()->getId();
        const auto properties = device->getProperties();
        target->context = {{"ID", id},
                           {"Name", properties.contains("Name") ? properties.at("Name") : json::value(id)},
                           {"IsContainer", false},
                           {"HasState", true},
                           {"CanSuspend", true},
                           {"CanResume", kResumeModes},
                           {"CanCount", kCountedModes},
                           {"CanTerminate", false},
                           {"CanDetach", false},
                           {"RegAccessTypes", json::array{"rd-stop", "wr-stop"}}};
        if (!target->memoryId.empty())
            target->context["ProcessID"] = target->memoryId;
        added.push_back(target->context);
        targets_[id] = target;
        fresh.push_back(std::move(target));
    }
    if (added.empty())
        return;
    send(kRunControl, "contextAdded", {jsonText(added)});
    for (const auto& target : fresh)
        tellFollowers(RunEvent{RunEvent::Kind::Added, target->id, {}, {}});
    for (auto& [id, breakpoint] : breakpoints_)
        for (const auto& target : fresh)
            place(breakpoint, true, target.get());
}

void DebugTargets::onDevicesRemoved(const std::vector<std::string>& ids)
{
    std::lock_guard lock(mutex_);
    json::array removed;
    for (const auto& id : ids) {
        const auto found = targets_.find(id);
        if (found == targets_.end())
            continue;
        const auto reason = found->second->control->lostReason();
        if (reason)
            send(kRunControl, "contextException", {jsonText(id), jsonText("The target was lost: " + *reason)});
        targets_.erase(found);
        tellFollowers(RunEvent{RunEvent::Kind::Removed, id, {}, reason.value_or("")});
        removed.push_back(json::value(id));
        for (auto& [bpId, breakpoint] : breakpoints_)
            if (breakpoint.instances.erase(id) != 0)
                sendStatus(breakpoint);
    }
    if (!removed.empty())
        send(kRunControl, "contextRemoved", {jsonText(removed)});
}

void DebugTargets::onStopped(const std::shared_ptr<Target>& target, const TargetStop& stop)
{
    std::lock_guard lock(mutex_);
    if (!targets_.contains(target->id))
        return;
    std::vector<std::string> hit;
    if (stop.reason == StopReason::Breakpoint || stop.reason == StopReason::Watchpoint) {
        const bool watch = stop.reason == StopReason::Watchpoint;
        const std::uint64_t pc = watch ? 0 : pcOf(*target, stop);
        bool counted = false;
        for (auto& [id, breakpoint] : breakpoints_) {
            const auto instance = breakpoint.instances.find(target->id);
            const auto& request = breakpoint.request;
            if (instance == breakpoint.instances.end() || !instance->second.error.empty() || request.isWatchpoint() != watch)
                continue;
            const bool here = watch ? stop.dataAddress && *stop.dataAddress >= request.address &&
                                          *stop.dataAddress < request.address + request.size
                                    : (request.address | 1) == (pc | 1);
            if (!here)
                continue;
            counted = true;
            if (++instance->second.hits > request.ignoreCount)
                hit.push_back(id);
            sendStatus(breakpoint);
        }
        if (counted && hit.empty()) {
            // Every breakpoint here still ignores its hits: the target goes on as if never stopped.
            target->quietResume = true;
            try {
                target->control->resume();
            } catch (const std::exception& error) {
                BackendLogger::error(kLog, "Resuming " + target->id + " after an ignored hit: " + error.what());
            }
            target->quietResume = false;
            return;
        }
    }
    reportStop(*target, stop, std::move(hit));
}

void DebugTargets::reportStop(Target& target, const TargetStop& stop, std::vector<std::string> hit)
{
    RunState report{true, stop.pc, reasonName(stop.reason), {}};
    if (!report.pc)
        report.pc = readRegister(target, "pc");
    if (report.pc)
        *report.pc &= ~std::uint64_t{1};
    if (stop.signal != 0)
        report.data["Signal"] = stop.signal;
    if (!stop.description.empty())
        report.data["SignalDescription"] = stop.description;
    if (stop.dataAddress)
        report.data["DataAddress"] = *stop.dataAddress;
    if (!hit.empty())
        report.data["BPs"] = json::array(hit.begin(), hit.end());
    target.lastReport = report;
    send(kRunControl, "contextSuspended",
         {jsonText(target.id), report.pc ? std::to_string(*report.pc) : "null", jsonText(report.reason), jsonText(report.data)});
    tellFollowers(RunEvent{RunEvent::Kind::Suspended, target.id, report, {}});
    for (const auto& id : hit)
        if (const auto found = breakpoints_.find(id); found != breakpoints_.end() && found->second.request.temporary)
            erase(id);
}

void DebugTargets::continueSteps(const std::shared_ptr<Target>& target, std::int64_t left)
{
    std::lock_guard lock(mutex_);
    if (!targets_.contains(target->id))
        return;
    TargetStop stop;
    if (target->cancelSteps) {
        stop.reason = StopReason::Suspended;
    } else {
        try {
            target->control->step();
            stop = target->control->lastStop().value_or(TargetStop{StopReason::Step, {}, {}, 0, ""});
        } catch (const std::exception& error) {
            // A step whose stop never came leaves the target running as far as anyone knows: a
            // suspend is what may still stop it.
            target->stepping = false;
            send(kRunControl, "contextException", {jsonText(target->id), jsonText(error.what())});
            tellFollowers(RunEvent{RunEvent::Kind::Exception, target->id, {}, error.what()});
            return;
        }
        if (left > 1 && stop.reason == StopReason::Step) {
            post([this, target, left] { continueSteps(target, left - 1); });
            return;
        }
    }
    target->stepping = false;
    reportStop(*target, stop, {});
}

// ---- RunControl

DebugTargets::Target& DebugTargets::targetOrThrow(const std::string& id) const
{
    const auto found = targets_.find(id);
    if (found == targets_.end())
        fail(kRunControl, kInvalidContext, "No target with run control has the id \"" + id + "\"");
    return *found->second;
}

std::vector<std::string> DebugTargets::targetIds()
{
    catchUp();
    std::lock_guard lock(mutex_);
    std::vector<std::string> ids;
    for (const auto& [id, target] : targets_)
        ids.push_back(id);
    return ids;
}

json::object DebugTargets::contextOf(const std::string& id)
{
    catchUp();
    std::lock_guard lock(mutex_);
    return targetOrThrow(id).context;
}

RunState DebugTargets::state(const std::string& id)
{
    catchUp();
    {
        std::lock_guard lock(mutex_);
        auto& target = targetOrThrow(id);
        if (target.stepping || target.control->isRunning())
            return {};
    }
    // Stopped: the stop that ended its run was queued before it counted as stopped, and may have
    // come after the first catch-up; it is handled before its state is told.
    catchUp();
    std::lock_guard lock(mutex_);
    auto& target = targetOrThrow(id);
    if (target.stepping || target.control->isRunning())
        return {};
    // The reason is the last stop's (or, halted since before anyone here heard of it, a
    // suspend); the PC is read now: a reset or a register write may have moved it since.
    RunState state = target.lastReport.value_or(RunState{true, std::nullopt, "Suspended", {}});
    if (const auto pc = readRegister(target, "pc"))
        state.pc = *pc & ~std::uint64_t{1};
    return state;
}

void DebugTargets::suspend(const std::string& id)
{
    catchUp();
    std::lock_guard lock(mutex_);
    auto& target = targetOrThrow(id);
    if (target.stepping) {
        target.cancelSteps = true;
        return;
    }
    if (!target.control->isRunning())
        fail(kRunControl, kAlreadyStopped, id + " is already suspended");
    target.control->halt();
}

std::uint64_t DebugTargets::resume(const std::string& id, std::int64_t mode, std::int64_t count)
{
    catchUp();
    std::lock_guard lock(mutex_);
    auto& target = targetOrThrow(id);
    if (mode < 0 || mode > 62 || ((kResumeModes >> mode) & 1) == 0) {
        const char* name = modeName(mode);
        fail(kRunControl, kUnsupported,
             (name ? "Resume mode " + std::to_string(mode) + " (" + name + ")" : "There is no resume mode " + std::to_string(mode)) +
                 " is not one " + id + " takes: 0 (resume), 1 (step over) and 2 (step into), both one instruction");
    }
    if (mode == kResume && count != 1)
        fail(kRunControl, kInvalidNumber, "A resume runs once: its count is 1, not " + std::to_string(count));
    if (count < 1 || count > kMaxSteps)
        fail(kRunControl, kInvalidNumber,
             "A step count is 1 to " + std::to_string(kMaxSteps) + ", not " + std::to_string(count));
    if (target.stepping || target.control->isRunning())
        fail(kRunControl, kAlreadyRunning, id + " is running: suspend it first");
    const std::uint64_t toldBefore = eventsTold_;
    if (mode == kResume) {
        target.control->resume();
        return toldBefore;
    }
    target.stepping = true;
    target.cancelSteps = false;
    // Through the events thread: a stop told before this resume is told before its contextResumed.
    const auto shared = targets_.at(id);
    post([this, shared, count] {
        {
            std::lock_guard lock(mutex_);
            tellResumed(*shared);
        }
        continueSteps(shared, count);
    });
    return toldBefore;
}

std::shared_ptr<IDeviceContext> DebugTargets::deviceOf(const std::string& id)
{
    catchUp();
    std::lock_guard lock(mutex_);
    return targetOrThrow(id).device;
}

boost::signals2::connection DebugTargets::connectRunEvents(const RunEventSignal::slot_type& slot)
{
    std::lock_guard lock(mutex_);
    return runEvents_.connect(slot);
}

std::uint64_t DebugTargets::eventsTold() const
{
    std::lock_guard lock(mutex_);
    return eventsTold_;
}

std::optional<std::uint64_t> DebugTargets::readRegister(Target& target, const std::string& name)
{
    if (target.registers.empty())
        if (const auto parent = debugger_.getParentLookup().findParent(target.id))
            for (const auto& reg : parent->listRegistersContexts()) {
                const std::string id = reg->getId();
                target.registers[lowered(id.substr(id.rfind('.') + 1))] = reg;
            }
    const auto found = target.registers.find(name);
    if (found == target.registers.end())
        return std::nullopt;
    try {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(found->second->getSize()));
        found->second->getValue(bytes);
        std::uint64_t value = 0;
        for (std::size_t i = std::min<std::size_t>(bytes.size(), 8); i-- > 0;)
            value = value << 8 | bytes[i];
        return value;
    } catch (const std::exception& error) {
        BackendLogger::error(kLog, "Reading " + name + " of " + target.id + ": " + error.what());
        return std::nullopt;
    }
}

std::uint64_t DebugTargets::pcOf(Target& target, const TargetStop& stop)
{
    return stop.pc ? *stop.pc : readRegister(target, "pc").value_or(0);
}

// ---- StackTrace

std::vector<StackFrame> DebugTargets::stack(const std::string& id)
{
    catchUp();
    std::lock_guard lock(mutex_);
    auto& target = targetOrThrow(id);
    if (target.stepping || target.control->isRunning())
        fail(kStackTrace, kIsRunning, id + " is running: its stack is read while it is suspended");
    const auto pc = target.lastReport && target.lastReport->pc ? target.lastReport->pc : readRegister(target, "pc");
    if (!pc)
        fail(kStackTrace, kOther, "The PC of " + id + " cannot be read");
    std::vector<StackFrame> frames{{*pc & ~std::uint64_t{1}, readRegister(target, "lr")}};
    if (frames.front().returnAddress && isReturnAddress(*frames.front().returnAddress))
        frames.push_back({*frames.front().returnAddress & ~std::uint64_t{1}, std::nullopt});
    return frames;
}

// ---- Breakpoints

void DebugTargets::setTable(int client, const std::vector<BreakpointRequest>& table)
{
    catchUp();
    std::lock_guard lock(mutex_);
    std::set<std::string> given;
    std::size_t fresh = 0;
    for (const auto& request : table) {
        if (!given.insert(request.id).second)
            fail(kBreakpoints, 3, "The table names breakpoint \"" + request.id + "\" twice");
        fresh += breakpoints_.contains(request.id) ? 0 : 1;
    }
    checkRoom(fresh);
    std::vector<std::string> dropped;
    for (auto& [id, breakpoint] : breakpoints_)
        if (!given.contains(id) && breakpoint.clients.erase(client) != 0 && breakpoint.clients.empty())
            dropped.push_back(id);
    for (const auto& id : dropped)
        erase(id);
    json::array added;
    for (const auto& request : table) {
        const auto found = breakpoints_.find(request.id);
        if (found == breakpoints_.end()) {
            auto& breakpoint = breakpoints_[request.id];
            breakpoint.clients.insert(client);
            breakpoint.request = request;
            place(breakpoint, true);
            added.push_back(request.properties);
        } else {
            found->second.clients.insert(client);
            if (found->second.request.properties != request.properties)
                replace(found->second, request);
        }
    }
    if (!added.empty())
        send(kBreakpoints, "contextAdded", {jsonText(added)});
    for (const auto& request : table)
        sendStatus(breakpoints_.at(request.id));
}

void DebugTargets::add(int client, const BreakpointRequest& request)
{
    catchUp();
    if (!request.problem.empty())
        fail(kBreakpoints, request.problemCode, "Breakpoint \"" + request.id + "\": " + request.problem);
    std::lock_guard lock(mutex_);
    const auto found = breakpoints_.find(request.id);
    if (found != breakpoints_.end()) {
        found->second.clients.insert(client);
        replace(found->second, request);
    } else {
        checkRoom(1);
        auto& breakpoint = breakpoints_[request.id];
        breakpoint.clients.insert(client);
        breakpoint.request = request;
        place(breakpoint, true);
        send(kBreakpoints, "contextAdded", {jsonText(json::array{request.properties})});
    }
    sendStatus(breakpoints_.at(request.id));
}

void DebugTargets::change(const BreakpointRequest& request)
{
    if (!request.problem.empty())
        fail(kBreakpoints, request.problemCode, "Breakpoint \"" + request.id + "\": " + request.problem);
    std::lock_guard lock(mutex_);
    const auto found = breakpoints_.find(request.id);
    if (found == breakpoints_.end())
        fail(kBreakpoints, kInvalidContext, "No breakpoint has the id \"" + request.id + "\"");
    replace(found->second, request);
    sendStatus(found->second);
}

void DebugTargets::enable(const std::vector<std::string>& ids, bool enabled)
{
    std::lock_guard lock(mutex_);
    for (const auto& id : ids)
        if (!breakpoints_.contains(id))
            fail(kBreakpoints, kInvalidContext, "No breakpoint has the id \"" + id + "\"");
    for (const auto& id : ids) {
        auto& breakpoint = breakpoints_.at(id);
        auto request = breakpoint.request;
        request.properties["Enabled"] = enabled;
        request.enabled = enabled;
        replace(breakpoint, request);
        sendStatus(breakpoint);
    }
}

void DebugTargets::remove(int client, const std::vector<std::string>& ids)
{
    std::lock_guard lock(mutex_);
    for (const auto& id : ids)
        if (const auto found = breakpoints_.find(id);
            found != breakpoints_.end() && found->second.clients.erase(client) != 0 && found->second.clients.empty())
            erase(id);
}

void DebugTargets::forgetClient(int client)
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> gone;
    for (auto& [id, breakpoint] : breakpoints_)
        if (breakpoint.clients.erase(client) != 0 && breakpoint.clients.empty())
            gone.push_back(id);
    for (const auto& id : gone)
        erase(id);
}

std::vector<std::string> DebugTargets::breakpointIds() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> ids;
    for (const auto& [id, breakpoint] : breakpoints_)
        ids.push_back(id);
    return ids;
}

json::object DebugTargets::breakpointProperties(const std::string& id) const
{
    std::lock_guard lock(mutex_);
    const auto found = breakpoints_.find(id);
    if (found == breakpoints_.end())
        fail(kBreakpoints, kInvalidContext, "No breakpoint has the id \"" + id + "\"");
    return found->second.request.properties;
}

json::object DebugTargets::breakpointStatus(const std::string& id)
{
    catchUp();
    std::lock_guard lock(mutex_);
    const auto found = breakpoints_.find(id);
    if (found == breakpoints_.end())
        fail(kBreakpoints, kInvalidContext, "No breakpoint has the id \"" + id + "\"");
    return statusOf(found->second);
}

void DebugTargets::checkRoom(std::size_t more) const
{
    if (breakpoints_.size() + more > kMaxBreakpoints)
        fail(kBreakpoints, kOther,
             "The back-end keeps at most " + std::to_string(kMaxBreakpoints) + " breakpoints for all clients; " +
                 std::to_string(breakpoints_.size()) + " are set");
}

void DebugTargets::replace(Breakpoint& breakpoint, const BreakpointRequest& request)
{
    place(breakpoint, false);
    breakpoint.request = request;
    place(breakpoint, true);
    send(kBreakpoints, "contextChanged", {jsonText(json::array{request.properties})});
}

void DebugTargets::erase(const std::string& id)
{
    const auto found = breakpoints_.find(id);
    if (found == breakpoints_.end())
        return;
    place(found->second, false);
    breakpoints_.erase(found);
    send(kBreakpoints, "contextRemoved", {jsonText(json::array{json::value(id)})});
}

void DebugTargets::place(Breakpoint& breakpoint, bool on, Target* only)
{
    for (const auto& [id, target] : targets_)
        if (!only || only == target.get()) {
            if (on)
                plantOn(*target, breakpoint);
            else
                unplantFrom(*target, breakpoint);
        }
}

void DebugTargets::plantOn(Target& target, Breakpoint& breakpoint)
{
    const auto& request = breakpoint.request;
    if (!request.enabled || !request.problem.empty() || !request.appliesTo(target.id) ||
        breakpoint.instances.contains(target.id))
        return;
    Instance instance;
    const Place where{request.kind, request.address, request.size};
    if (const auto planted = target.planted.find(where); planted != target.planted.end()) {
        ++planted->second.users;
        instance.taken = planted->second.taken;
    } else {
        try {
            instance.taken = target.control->setStopPoint(request.kind, request.address, request.size, true);
            target.planted[where] = {1, instance.taken};
        } catch (const std::exception& error) {
            instance.error = error.what();
        }
    }
    breakpoint.instances[target.id] = std::move(instance);
}

void DebugTargets::unplantFrom(Target& target, Breakpoint& breakpoint)
{
    const auto instance = breakpoint.instances.find(target.id);
    if (instance == breakpoint.instances.end())
        return;
    const auto& request = breakpoint.request;
    const auto planted = target.planted.find(Place{request.kind, request.address, request.size});
    if (instance->second.error.empty() && planted != target.planted.end() && --planted->second.users == 0) {
        try {
            target.control->setStopPoint(planted->second.taken, request.address, request.size, false);
        } catch (const std::exception& error) {
            BackendLogger::error(kLog, "Removing breakpoint " + request.id + " from " + target.id + ": " + error.what());
        }
        target.planted.erase(planted);
    }
    breakpoint.instances.erase(instance);
}

json::object DebugTargets::statusOf(const Breakpoint& breakpoint) const
{
    json::object status;
    if (!breakpoint.request.problem.empty()) {
        status["Error"] = breakpoint.request.problem;
        return status;
    }
    json::array instances;
    for (const auto& [targetId, instance] : breakpoint.instances) {
        json::object entry{{"LocationContext", targetId}};
        if (!instance.error.empty()) {
            entry["Error"] = instance.error;
        } else {
            entry["Address"] = breakpoint.request.address;
            entry["Size"] = breakpoint.request.size;
            entry["BreakpointType"] = breakpointTypeName(instance.taken);
            entry["HitCount"] = instance.hits;
            if (const auto target = targets_.find(targetId); target != targets_.end() && !target->second->memoryId.empty())
                entry["MemoryContext"] = target->second->memoryId;
        }
        instances.push_back(std::move(entry));
    }
    status["Instances"] = std::move(instances);
    if (const auto* plantedBy = breakpoint.request.properties.if_contains(kPlantedBy))
        status[kPlantedBy] = *plantedBy;
    return status;
}

void DebugTargets::tellFollowers(RunEvent event)
{
    event.sequence = ++eventsTold_;
    runEvents_(event);
}

void DebugTargets::tellResumed(Target& target)
{
    target.lastReport.reset();
    send(kRunControl, "contextResumed", {jsonText(target.id)});
    tellFollowers(RunEvent{RunEvent::Kind::Resumed, target.id, {}, {}});
}

void DebugTargets::sendStatus(const Breakpoint& breakpoint) const
{
    send(kBreakpoints, "status", {jsonText(breakpoint.request.id), jsonText(statusOf(breakpoint))});
}

} // namespace hil::debugging
