// SPDX-License-Identifier: Apache-2.0
#include "bundles/common/TargetMessages.h"

#include <stdexcept>

#include "core/interfaces/PropertyKeys.h"
#include "platform/common/Errors.h"
#include "platform/common/Status.h"

namespace hil::bundles {

namespace MessageKey = keys::MessageKey;

TargetMessages::TargetMessages(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId,
                                     std::string deviceName, std::string component)
    : TargetContext(std::move(id), std::move(device), std::move(deviceId)), component_(std::move(component)), contextName_(std::move(deviceName))
{
}

boost::json::object TargetMessages::getProperties() const
{
    std::lock_guard lock(mutex_);
    return {{"ID", id_},
            {"ParentID", parentId_},
            {MessageKey::ContextName, contextName_},
            {MessageKey::ReportingActive, reportingActive_},
            {MessageKey::SeverityThreshold, severityThreshold_}};
}

void TargetMessages::setProperties(const boost::json::object& properties)
{
    const auto* name = properties.if_contains(MessageKey::ContextName);
    const auto* active = properties.if_contains(MessageKey::ReportingActive);
    const auto* threshold = properties.if_contains(MessageKey::SeverityThreshold);
    if (name && !name->is_string())
        throw UsageError(MessageKey::ContextName + " must be a string");
    if (active && !active->is_bool())
        throw UsageError(MessageKey::ReportingActive + " must be true or false");
    if (threshold && !threshold->is_int64())
        throw UsageError(MessageKey::SeverityThreshold + " must be a whole number (1 info, 2 warning, 4 error)");
    std::lock_guard lock(mutex_);
    if (name)
        contextName_ = std::string(name->get_string());
    if (active)
        reportingActive_ = active->get_bool();
    if (threshold)
        severityThreshold_ = static_cast<int>(threshold->get_int64());
}

std::string TargetMessages::getSourceName() const
{
    std::lock_guard lock(mutex_);
    return contextName_;
}

boost::signals2::connection TargetMessages::addMessageHandler(const MessageSignal::slot_type& slot)
{
    return messages_.connect(slot);
}

void TargetMessages::report(int severity, const std::string& text)
{
    {
        std::lock_guard lock(mutex_);
        if (!reportingActive_ || severity < severityThreshold_)
            return;
    }
    messages_(Status(severity, component_, ErrorCode::Ok, "%s", text.c_str()));
}

} // namespace hil::bundles
