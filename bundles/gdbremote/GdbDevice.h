// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "bundles/common/DriverDevice.h"
#include "bundles/common/TargetMessages.h"
#include "bundles/gdbremote/GdbContexts.h"
#include "bundles/gdbremote/LineAssembler.h"
#include "core/devicedescription/DeviceModel.h"
#include "core/interfaces/IDeviceContext.h"
#include "core/interfaces/IOrixDebugger.h"
#include "core/interfaces/IRunControl.h"

namespace hil::gdbremote {

/// The target device behind a connected GDB server tool.
///
/// Its id is TOOL-ID + "." + DEVICE-NAME. It is the parent of one memory context per address
/// space of its description (without a description: one space "memory" over the 32-bit
/// addresses) and of one register context per register the server describes (id DEVICE-ID +
/// "." + register name), in the server's order. Its message context (DEVICE-ID + ".messages")
/// reports each line the target prints (UART, console output of the server), why the target
/// stopped ("Target stopped: breakpoint", "Target stopped: watchpoint at 0x20000004", "Target
/// halted", "Target stepped"), sessions and erases.
///
/// Properties: "ID", "Name", "Tool", "Session" ("None", "DebuggingSession" or
/// "ProgrammingSession"), "State" ("Halted" or "Running"), "LeaveHalted" (false: ending a
/// session resumes the target; settable), "ResetCommand" (the monitor command of a reset),
/// "MemoryIDs", "RegistersID".
///
/// A session start halts the target and, for a programming session, resets it (unless asked not
/// to); a debugging session leaves it where it is.
/// Erase: the flash areas of the server's memory map through `vFlashErase`; without such areas,
/// the flash segments of the description written with 0xFF. Each stop is also a target event
/// whose bytes are the server's stop reply.
///
/// Its run control (`IRunControl`) is what the tool's special operations "halt", "resume",
/// "step", "reset", "breakpoint" and "watchpoint" use: a stop is told to the slots from the
/// client's reader thread, with the PC when the server's stop reply carries it.
class GdbDevice : public bundles::DriverDevice,
                  public IMemoryRegistersParent,
                  public IRunControl,
                  public std::enable_shared_from_this<GdbDevice> {
public:
    /// `description` may be null. `resetCommand` is the monitor command of a reset.
    static std::shared_ptr<GdbDevice> create(std::string toolId, std::string deviceName,
                                             std::shared_ptr<DIDevice> description, std::shared_ptr<TargetLink> link,
                                             std::string resetCommand);
    GdbDevice(std::string toolId, std::string deviceName, std::shared_ptr<DIDevice> description,
              std::shared_ptr<TargetLink> link, std::string resetCommand);

    boost::json::object getProperties() const override;
    void setProperties(const boost::json::object& properties) override;

    std::shared_ptr<SessionStartInfo> startSession(Status& status, int kind, bool resetTarget,
                                                   std::shared_ptr<void> options) override;
    bool endSession() override;
    void erase(int eraseType, bool verify, std::uint64_t address, int count) override;
    void getInfo(boost::json::value& info, int selector) override;
    /// Takes none: run control is a tool special operation.
    void runSpecialOperation(Status& status, int operation) override;

    std::vector<std::shared_ptr<IMemoryContext>> listMemoryContexts() const override;
    std::vector<std::shared_ptr<IRegistersContext>> listRegistersContexts() const override;
    const std::shared_ptr<bundles::TargetMessages>& messages() const { return messages_; }

    bool isRunning() const override;
    std::optional<std::string> lostReason() const override;
    /// Tells that the connection to the target broke, and why.
    void markLost(const std::string& reason);
    std::optional<TargetStop> lastStop() const override;
    void halt() override;
    void resume() override;
    void step() override;
    /// The monitor's reset ("ResetCommand"); a reset its monitor does not know is a `TargetError`
    /// with the monitor's words.
    void reset(bool halted) override;
    /// Also while the target runs: it is halted for the change and let go on, and nobody hears of it.
    StopPointKind setStopPoint(StopPointKind kind, std::uint64_t address, std::uint64_t size, bool on) override;
    boost::signals2::connection connectStopped(const StoppedSignal::slot_type& slot) override
    {
        return stopped_.connect(slot);
    }
    boost::signals2::connection connectResumed(const ResumedSignal::slot_type& slot) override
    {
        return resumed_.connect(slot);
    }

    std::string monitor(const std::string& command);
    /// Leaves the server (the target runs on); a connection that breaks meanwhile is not
    /// reported as lost.
    void detach();

    /// Reports a line the target printed.
    void reportLine(const std::string& line) { messages_->report(Severity::Info, line); }

private:
    void buildContexts();
    void onStop(const rsp::StopReply& stop);
    void onOutput(const std::string& text);
    bool leaveHalted() const;

    const std::string toolId_;
    const std::string deviceName_;
    const std::shared_ptr<DIDevice> description_;
    const std::shared_ptr<TargetLink> link_;
    const std::string resetCommand_;
    std::vector<std::shared_ptr<GdbMemory>> memories_;
    std::vector<std::shared_ptr<GdbRegister>> registers_;
    std::shared_ptr<bundles::TargetMessages> messages_;
    std::atomic<bool> stepping_{false};
    /// A halt this side asked for: its stop is "Suspended" whatever signal the server gives.
    std::atomic<bool> halting_{false};
    /// A halt so that stop points can change while the target runs, and whether it was that
    /// halt (not a stop of the target's own) that stopped it.
    std::atomic<bool> changingStopPoints_{false};
    std::atomic<bool> haltedForChange_{false};
    /// A step off a breakpoint written into memory, before a resume: nobody hears of its stop.
    std::atomic<bool> steppingOff_{false};
    StoppedSignal stopped_;
    ResumedSignal resumed_;

    mutable std::mutex mutex_;
    std::string session_ = "None";
    bool leaveHalted_ = false;
    LineAssembler outputLines_;
    std::optional<TargetStop> lastStop_;
    std::optional<std::string> lostReason_;
    /// The server's PC register, whose value a stop reply may carry; null when it names none.
    const RemoteRegister* pcRegister_ = nullptr;
};

/// What a stop reply says, as run control tells it: `asked` a halt this side asked for,
/// `stepped` the end of a step; `pc` the register the PC is among the server's.
TargetStop stopOf(const rsp::StopReply& stop, bool asked, bool stepped, const RemoteRegister* pc);

} // namespace hil::gdbremote
