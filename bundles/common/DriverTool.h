// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <mutex>
#include <thread>

#include "bundles/common/TargetContext.h"
#include "core/interfaces/IConnection.h"
#include "core/interfaces/IToolContext.h"

namespace hil::bundles {

/// What every driver's tool shares: a "tool" context without parent or dependents; the
/// properties "ID", "Name", "ToolType", "ConnectionType", the connection's own and "State"
/// ("Idle" at first), under one lock; and "connectionLost" told from a thread of its own,
/// because the thread that sees a loss may be one that a handler waits for.
class DriverTool : public TargetContext<IToolContext> {
public:
    /// `connection` may be null (a tool that needs none).
    DriverTool(std::string id, const std::string& name, const std::string& toolType,
               const std::shared_ptr<IConnection>& connection);
    ~DriverTool() override;

    boost::json::object getProperties() const override;
    void setProperties(const boost::json::object& properties) override { setToolProperties(properties); }
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

    /// Guards `properties_` and whatever the derived tool shares between threads.
    mutable std::mutex mutex_;
    boost::json::object properties_;

private:
    ConnectionLostSignal connectionLost_;
    std::thread lossReporter_;
};

} // namespace hil::bundles
