// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <mutex>

#include "bundles/common/TargetContext.h"
#include "core/interfaces/IMessageContext.h"

namespace hil::bundles {

/// What a target device reports (sessions, erases, resets, its output, why it stopped), as
/// statuses of the driver's log component.
///
/// Properties: "ID", "ParentID", "ContextName" (the source name clients show; the device's
/// name at first), "ReportingActive" (true at first: false silences it) and
/// "SeverityThreshold" (1 at first: a status is reported when its severity is at least this;
/// 1 information, 2 warning, 4 error). `setProperties` takes those three keys, refuses a value of
/// the wrong kind with `UsageError` before it changes anything, and ignores others.
class TargetMessages : public TargetContext<IMessageContext> {
public:
    TargetMessages(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId, std::string deviceName,
                   std::string component);

    boost::json::object getProperties() const override;
    void setProperties(const boost::json::object& properties) override;
    std::string getKind() const override { return "messages"; }
    std::string getSourceName() const override;
    boost::signals2::connection addMessageHandler(const MessageSignal::slot_type& slot) override;

    /// Reports `text` with `severity`, unless reporting is off or the severity is below the
    /// threshold. Call it without holding a lock the handlers may need.
    void report(int severity, const std::string& text);

private:
    const std::string component_;
    mutable std::mutex mutex_;
    std::string contextName_;
    bool reportingActive_ = true;
    int severityThreshold_ = 1;
    MessageSignal messages_;
};

} // namespace hil::bundles
