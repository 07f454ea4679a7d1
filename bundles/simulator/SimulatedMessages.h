#pragma once

#include <mutex>

#include "bundles/simulator/SimulatedContext.h"
#include "core/interfaces/IMessageContext.h"

namespace hil::simulator {

/// What a simulated device reports about itself (sessions, erases, resets), as statuses.
///
/// Properties: "ID", "ParentID", "ContextName" (the source name clients show; the device's
/// name at first), "ReportingActive" (true at first: false silences it) and
/// "SeverityThreshold" (1 at first: a status is reported when its severity is at least this;
/// 1 information, 2 warning, 4 error). `setProperties` takes those three keys, refuses a value of
/// the wrong kind with `std::invalid_argument` before it changes anything, and ignores others.
class SimulatedMessages : public SimulatedContext<IMessageContext> {
public:
    SimulatedMessages(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId, std::string deviceName);

    boost::json::object getProperties() const override;
    void setProperties(const boost::json::object& properties) override;
    std::string getKind() const override { return "messages"; }
    std::string getSourceName() const override;
    boost::signals2::connection addMessageHandler(const MessageSignal::slot_type& slot) override;

    /// Reports `text` with `severity`, unless reporting is off or the severity is below the
    /// threshold. Call it without holding a lock the handlers may need.
    void report(int severity, const std::string& text);

private:
    mutable std::mutex mutex_;
    std::string contextName_;
    bool reportingActive_ = true;
    int severityThreshold_ = 1;
    MessageSignal messages_;
};

} // namespace hil::simulator
