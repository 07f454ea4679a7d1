// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <mutex>
#include <thread>

#include "bundles/common/FailureReport.h"
#include "bundles/common/TargetContext.h"
#include "core/devicedescription/DeviceModel.h"
#include "core/interfaces/IConnection.h"
#include "core/interfaces/IObservableTool.h"
#include "core/interfaces/IOrixDebugger.h"
#include "core/interfaces/IToolContext.h"

namespace hil::bundles {

/// What every driver's tool shares: a "tool" context without parent or dependents; the
/// properties "ID", "Name", "ToolType", "ConnectionType", the connection's own and "State"
/// ("Idle" at first), under one lock; and "connectionLost" told from a thread of its own,
/// because the thread that sees a loss may be one that a handler waits for.
///
/// It also holds what every driver's commands do alike: "connect" (drop the earlier target, find
/// the description of the tool's "DeviceName", attach, "Ready") and "disconnect", with the
/// target's own part left to `attachTarget` and `dropTarget`, each failure reported through
/// `reportFailure`; and the "tool is not connected" check, `connected`.
class DriverTool : public TargetContext<IToolContext>, public IObservableTool {
public:
    /// `connection` may be null (a tool that needs none).
    DriverTool(IOrixDebugger& debugger, std::string id, const std::string& name, const std::string& toolType,
               const std::shared_ptr<IConnection>& connection);
    ~DriverTool() override;

    /// Fails with RequiredObjectMissing without a Device service to register the target with;
    /// any failure of the attach leaves the tool as it was before, without a target.
    void connect(Status& status) final;
    void disconnect(Status& status) final;

    boost::json::object getProperties() const override;
    void setProperties(const boost::json::object& properties) override { setToolProperties(properties); }
    /// Merges `properties` into the tool's own (all but "ID"), then tells who listens.
    void setToolProperties(const boost::json::object& properties) final;
    boost::signals2::connection connectPropertiesSet(const PropertiesSetSignal::slot_type& slot) override;
    std::string getKind() const override { return "tool"; }
    std::vector<std::shared_ptr<IToolDependent>> getDependents() override { return {}; }
    boost::signals2::connection addConnectionLostHandler(const ConnectionLostSignal::slot_type& slot) override;

    /// A tool that has no firmware, boot mode, raw commands, self test or calibration keeps
    /// these: each fails with InvalidArguments and a text naming what the tool lacks.
    void startUpgrade(bool force, tcf::IIntermediateResult& progress, Status& status) override;
    void checkFirmware(Status& status) override;
    void setBootMode(Status& status) override;
    void genericCommand(Status& status, std::vector<std::uint8_t>& response, const std::vector<std::uint8_t>& request,
                        int timeoutMs) override;
    boost::json::object selfTest(Status& status) override;
    bool calibrate(Status& status) override;

protected:
    /// Builds the target and registers it with the debugger's services. `description` is the
    /// Device service's description of `deviceName`; null only when the tool names no device and
    /// `describedOnly` is false. Throws what `reportFailure` reports.
    virtual void attachTarget(std::shared_ptr<DIDevice> description, const std::string& deviceName) = 0;
    /// Unregisters and drops the target, when there is one; `detach` tells a target that still
    /// answers that the tool leaves it (false after a failure or a loss).
    virtual void dropTarget(bool detach) = 0;
    /// Whether the tool attaches only to a device it has a description of (a GDB server's target
    /// can be reached without one).
    virtual bool describedOnly() const { return true; }

    /// `target`, or a `StateError` "Tool ID is not connected".
    template <class Target>
    std::shared_ptr<Target> connected(std::shared_ptr<Target> target) const
    {
        if (!target)
            throwNotConnected();
        return target;
    }
    /// Fails `status` with "Tool NAME has no WHAT".
    void unsupported(Status& status, const char* what) const;
    /// The text property `key`; empty when it is absent or not text.
    std::string text(const std::string& key) const;
    void setState(const std::string& state);
    /// Once the report before it has ended, runs `release` (may be empty) and then tells every
    /// handler `reason`, on a new thread.
    void reportLoss(std::function<void()> release, std::string reason);
    /// Waits for the report under way. A derived tool calls it first in its destructor: the
    /// report may still use its parts. Called by the report itself, it lets the report finish.
    void waitForLossReport();

    IOrixDebugger& debugger_;
    /// Guards `properties_` and whatever the derived tool shares between threads.
    mutable std::mutex mutex_;
    boost::json::object properties_;

private:
    [[noreturn]] void throwNotConnected() const;

    ConnectionLostSignal connectionLost_;
    PropertiesSetSignal propertiesSet_;
    std::thread lossReporter_;
};

} // namespace hil::bundles
