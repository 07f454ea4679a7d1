// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "bundles/common/DriverTool.h"
#include "bundles/gdbremote/GdbConnections.h"
#include "bundles/gdbremote/GdbDevice.h"
#include "bundles/gdbremote/QemuProcess.h"
#include "core/interfaces/IOrixDebugger.h"

namespace hil::gdbremote {

/// The tool type of GDB server tools.
inline const std::string kGdbRemoteToolType = "com.velmora.hil.gdbremote";

/// A target behind a GDB remote protocol server: one on TCP, or a QEMU the tool starts.
///
/// Properties: "ID", "Name" ("gdbremote"), "ToolType", "ConnectionType", the connection's
/// properties ("Host"/"Port", or "Machine"/"Kernel"), "State" ("Idle" until `connect`, then
/// "Ready"), "DeviceName" (the description of the target: "MPS2-AN385" for QEMU's mps2-an385,
/// else empty, which gives one memory "memory" over the 32-bit addresses), "ResetCommand" (the
/// monitor command of a reset: "system_reset" for QEMU, "reset halt" for other servers),
/// "Timeout" (milliseconds every request may take, default 3000), and, once connected,
/// "GdbPort" and "QemuPid" of a QEMU.
///
/// `connect` starts QEMU (qemu connection), connects to the server, reads what it describes,
/// and registers the device with its memories, registers and messages. `disconnect` detaches
/// (which resumes the target), stops the QEMU it started, and unregisters the device. When
/// the server goes away or stops answering, the tool says "connectionLost" once, with the
/// reason, and is "Idle" again.
///
/// "genericStringCommand" is a monitor command (`qRcmd`); its output is the reply. Special
/// operations: "halt", "resume", "step", "reset", "breakpoint" and "unbreakpoint" with
/// {"Address": number or "0x..." text}, "watchpoint" and "unwatchpoint" (a write watchpoint)
/// with {"Address", "Size" (default 4)}.
class GdbTool : public bundles::DriverTool, public std::enable_shared_from_this<GdbTool> {
public:
    GdbTool(IOrixDebugger& debugger, std::string id, std::shared_ptr<GdbConnection> connection);
    ~GdbTool() override;


    /// NaN: a GDB server does not tell the target's voltage.
    double getTargetVoltage() override;
    std::vector<boost::json::object> detectDevices(Status& status) override;
    /// Points to the text commands: a GDB server takes monitor commands, not raw bytes.
    void genericCommand(Status& status, std::vector<std::uint8_t>& response, const std::vector<std::uint8_t>& request,
                        int timeoutMs) override;
    bool genericStringCommand(Status& status, std::string& response, const std::string& command) override;
    void specialOperation(Status& status, const std::string& operation, const boost::json::object& parameters) override;

protected:
    void attachTarget(std::shared_ptr<DIDevice> description, const std::string& deviceName) override;
    /// Drops the device, the connection and the QEMU.
    void dropTarget(bool detach) override;
    /// A target of no known device still has its registers and memory.
    bool describedOnly() const override { return false; }

private:
    std::chrono::milliseconds timeout() const;
    /// Connects to the server, retrying while a QEMU we started is still opening its stub.
    std::unique_ptr<RspClient> connectClient(const std::string& host, std::uint16_t port);
    std::shared_ptr<GdbDevice> device() const;
    void onLost(const std::string& reason);

    const std::shared_ptr<GdbConnection> connection_;
    std::unique_ptr<QemuProcess> qemu_;
    std::shared_ptr<GdbDevice> device_;
    bool lossReported_ = false; ///< of the connection `device_` is on
    std::string endpoint_;
};

} // namespace hil::gdbremote
