// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <boost/json/object.hpp>
#include <boost/signals2/signal.hpp>

#include "bundles/debugging/BreakpointRequest.h"
#include "core/interfaces/IDeviceContext.h"
#include "core/interfaces/IOrixDebugger.h"
#include "core/interfaces/IRunControl.h"

namespace hil::debugging {

/// What getState tells of a target.
struct RunState {
    bool suspended = false;
    std::optional<std::uint64_t> pc;
    std::string reason;
    boost::json::object data;
};

/// The TCF error codes of a run-control request that finds the target as it wanted it.
namespace RunControlError {
constexpr int AlreadyStopped = 10;
constexpr int AlreadyRunning = 12;
} // namespace RunControlError

/// What the clients are told of a target, as they are told it: the GDB server follows the same
/// story as the TCF clients.
struct RunEvent {
    enum class Kind { Added, Suspended, Resumed, Exception, Removed };
    Kind kind = Kind::Added;
    std::string targetId;
    /// Suspended: the stop as told (reason, PC, data).
    RunState state;
    /// Exception: what went wrong; Removed: why the target was lost (empty when let go).
    std::string text;
    /// Its place in the story of all targets: 1 for the first event told, and so on.
    std::uint64_t sequence = 0;
};

/// A frame of a suspended target's stack: 0 the top (its PC), 1 the caller (from LR).
struct StackFrame {
    std::uint64_t ip = 0;
    std::optional<std::uint64_t> returnAddress;
};

/// The targets with run control and the breakpoints the clients set on them, behind the
/// "RunControl", "Breakpoints" and "StackTrace" services, which share one per back-end.
///
/// The targets are the device contexts whose driver implements `IRunControl`, found as they come
/// and go in the Device service. Their stops, resumes and losses, and the device registry's
/// changes, arrive on drivers' threads: those only queue them, and one thread of this object
/// ("debug events") handles them in order, so that a driver's thread never waits for a command
/// and the events go out in the order things happened. Commands and that thread take turns on
/// one lock; a command's call into a driver is bounded by the driver's time-out.
///
/// Breakpoints belong to the clients (channel ids) that set them; one id set by two clients is
/// one breakpoint with two owners, gone when the last one removes it or leaves. Each is planted
/// on every target it applies to, once per target and place however many breakpoints share it.
///
/// Failures are thrown as TCF error objects naming the service.
class DebugTargets : public std::enable_shared_from_this<DebugTargets> {
public:
    /// The longest run of steps one resume takes.
    static constexpr std::int64_t kMaxSteps = 100000;
    /// The most breakpoints the back-end keeps for all clients together.
    static constexpr std::size_t kMaxBreakpoints = 1000;

    /// The one of `debugger`, made when first asked for.
    static std::shared_ptr<DebugTargets> of(IOrixDebugger& debugger);

    explicit DebugTargets(IOrixDebugger& debugger);
    ~DebugTargets();
    DebugTargets(const DebugTargets&) = delete;
    DebugTargets& operator=(const DebugTargets&) = delete;

    // RunControl
    std::vector<std::string> targetIds();
    /// Throws "invalid context" (16) for an id that is no target of ours.
    boost::json::object contextOf(const std::string& id);
    RunState state(const std::string& id);
    void suspend(const std::string& id);
    /// `mode` 0 runs (count 1), 1 and 2 run `count` instructions. The number of run events told
    /// before the run began: the stop that ends it is told after them.
    std::uint64_t resume(const std::string& id, std::int64_t mode, std::int64_t count);

    // StackTrace: top first.
    std::vector<StackFrame> stack(const std::string& id);

    /// The target's device context (its driver's run control, its tool as parent). Throws
    /// "invalid context" for an id that is no target of ours.
    std::shared_ptr<IDeviceContext> deviceOf(const std::string& id);

    using RunEventSignal = boost::signals2::signal<void(const RunEvent&)>;
    /// The slot hears every event the RunControl clients hear, right after them, on the events
    /// thread and with this object locked: it must hand the event on, never call back.
    boost::signals2::connection connectRunEvents(const RunEventSignal::slot_type& slot);
    /// How many run events were told so far.
    std::uint64_t eventsTold() const;

    // Breakpoints, for `client` (a channel id, or a negative number for a front-end of the
    // back-end's own, which names itself in the breakpoint's "PlantedBy" property).
    void setTable(int client, const std::vector<BreakpointRequest>& table);
    void add(int client, const BreakpointRequest& request);
    void change(const BreakpointRequest& request);
    void enable(const std::vector<std::string>& ids, bool enabled);
    void remove(int client, const std::vector<std::string>& ids);
    std::vector<std::string> breakpointIds() const;
    boost::json::object breakpointProperties(const std::string& id) const;
    boost::json::object breakpointStatus(const std::string& id);
    /// Removes the client's breakpoints: it has gone.
    void forgetClient(int client);

private:
    struct Target;
    struct Instance {
        std::uint64_t hits = 0;
        /// Why it is not planted; empty when it is.
        std::string error;
        StopPointKind taken = StopPointKind::SoftwareBreakpoint;
    };
    struct Breakpoint {
        BreakpointRequest request;
        std::set<int> clients;
        std::map<std::string, Instance> instances; ///< by target id
    };
    /// Where a stop point sits on a target, and the kind asked for there.
    struct Place {
        StopPointKind kind;
        std::uint64_t address;
        std::uint64_t size;
        auto operator<=>(const Place&) const = default;
    };
    struct Planted {
        int users = 0;
        StopPointKind taken;
    };

    void start();
    void attach();
    void post(std::function<void()> work);
    /// Waits until what the drivers told before this call has been handled: a command sees the
    /// target that just came and the stop that just happened.
    void catchUp();
    void runEvents();

    void onDevicesAdded(const std::vector<std::shared_ptr<IDeviceContext>>& devices);
    void onDevicesRemoved(const std::vector<std::string>& ids);
    void onStopped(const std::shared_ptr<Target>& target, const TargetStop& stop);
    void onLost(const std::string& id, const std::string& reason);
    void continueSteps(const std::shared_ptr<Target>& target, std::int64_t left);
    /// Tells the stop to the clients: contextSuspended, then the temporary breakpoints it hit go.
    void reportStop(Target& target, const TargetStop& stop, std::vector<std::string> hit);

    Target& targetOrThrow(const std::string& id) const;
    std::optional<std::uint64_t> readRegister(Target& target, const std::string& name);
    std::uint64_t pcOf(Target& target, const TargetStop& stop);
    /// Plants (or, `on` false, removes) the breakpoint on every target, or on `only`.
    void place(Breakpoint& breakpoint, bool on, Target* only = nullptr);
    void plantOn(Target& target, Breakpoint& breakpoint);
    void unplantFrom(Target& target, Breakpoint& breakpoint);
    void replace(Breakpoint& breakpoint, const BreakpointRequest& request);
    void erase(const std::string& id);
    void checkRoom(std::size_t more) const;
    void sendStatus(const Breakpoint& breakpoint) const;
    /// Sends contextResumed and tells it to the followers.
    void tellResumed(Target& target);
    /// Numbers `event` and hands it to the followers.
    void tellFollowers(RunEvent event);
    boost::json::object statusOf(const Breakpoint& breakpoint) const;

    IOrixDebugger& debugger_;
    std::vector<boost::signals2::scoped_connection> registryConnections_;

    mutable std::mutex mutex_; ///< the targets and breakpoints
    std::map<std::string, std::shared_ptr<Target>> targets_;
    std::map<std::string, Breakpoint> breakpoints_;
    RunEventSignal runEvents_;
    std::uint64_t eventsTold_ = 0;

    std::mutex queueMutex_;
    std::condition_variable queued_;
    std::deque<std::function<void()>> queue_;
    bool handling_ = false; ///< the events thread runs what it took from the queue
    bool stopping_ = false;
    std::thread events_;
};

} // namespace hil::debugging
