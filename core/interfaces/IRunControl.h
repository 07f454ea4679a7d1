// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <boost/signals2/signal.hpp>

namespace hil {

/// Why a target stopped, as debugger front-ends name the reasons.
enum class StopReason { Suspended, Step, Breakpoint, Watchpoint, Exception, Signal };

/// What a target said when it stopped.
struct TargetStop {
    StopReason reason = StopReason::Suspended;
    /// Where it stopped, when the target said so with the stop.
    std::optional<std::uint64_t> pc;
    /// For a watchpoint: the data address that was touched.
    std::optional<std::uint64_t> dataAddress;
    /// The signal number the target gave (5 a trap, 2 an interrupt); 0 when none.
    int signal = 0;
    /// The stop for people: "breakpoint", "watchpoint at 0x20000004", "halted (signal 2)".
    std::string description;
};

/// The points a target can stop at: instructions (breakpoints) and data accesses (watchpoints).
/// A written breakpoint is a breakpoint instruction the driver wrote over the code itself, for a
/// target that plants neither kind; it is only ever taken, never asked for.
enum class StopPointKind {
    SoftwareBreakpoint,
    HardwareBreakpoint,
    WriteWatchpoint,
    ReadWatchpoint,
    AccessWatchpoint,
    WrittenBreakpoint
};

/// A target's run control, implemented by a driver's device context for the targets it can halt
/// and run; a front-end finds it by casting the device context. Nothing in the core calls it.
///
/// A running target is watched by the driver's own thread: its stop is told through
/// `connectStopped` (from that thread), never by a command that waits for it. Safe to call from
/// any thread. A halt of a halted target and a resume of a running one do nothing; a step while it
/// runs throws `StateError` at once, a lost target `TargetLostError`. Stop points change also while
/// the target runs (a driver that must halt it for that does so unseen).
class IRunControl {
public:
    using StoppedSignal = boost::signals2::signal<void(const TargetStop&)>;
    using ResumedSignal = boost::signals2::signal<void()>;

    virtual ~IRunControl() = default;

    virtual bool isRunning() const = 0;
    /// Why the connection to the target broke, once it has; nullopt while it holds, and for a
    /// target let go of on purpose.
    virtual std::optional<std::string> lostReason() const = 0;
    /// The last stop; unset while the target runs, or when no stop was seen yet.
    virtual std::optional<TargetStop> lastStop() const = 0;
    /// Stops the running target and returns once it stopped.
    virtual void halt() = 0;
    /// Lets the halted target run.
    virtual void resume() = 0;
    /// Runs one instruction and returns once the target stopped again.
    virtual void step() = 0;
    /// Resets the target; it is halted afterwards when `halted`, else it runs.
    virtual void reset(bool halted) = 0;
    /// Plants (`on`) or removes a stop point of `size` bytes at `address`; the kind the target
    /// took, which for a breakpoint may be the other kind. Throws `TargetError` with the target's
    /// words when it takes neither.
    virtual StopPointKind setStopPoint(StopPointKind kind, std::uint64_t address, std::uint64_t size, bool on) = 0;

    virtual boost::signals2::connection connectStopped(const StoppedSignal::slot_type& slot) = 0;
    virtual boost::signals2::connection connectResumed(const ResumedSignal::slot_type& slot) = 0;
};

} // namespace hil
