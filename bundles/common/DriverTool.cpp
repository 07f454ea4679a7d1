// SPDX-License-Identifier: Apache-2.0
#include "bundles/common/DriverTool.h"

#include "core/interfaces/IDeviceService.h"
#include "core/interfaces/PropertyKeys.h"
#include "platform/common/Errors.h"

namespace hil::bundles {

namespace ToolKey = keys::ToolDescriptionKey;

DriverTool::DriverTool(IOrixDebugger& debugger, std::string id, const std::string& name, const std::string& toolType,
                       const std::shared_ptr<IConnection>& connection)
    : TargetContext(std::move(id), {}, ""), debugger_(debugger)
{
    properties_[keys::ToolKey::ID] = id_;
    properties_[ToolKey::Name] = name;
    properties_["ToolType"] = toolType;
    properties_["ConnectionType"] = connection ? connection->getConnectionType() : "";
    if (connection)
        for (const auto& [key, value] : connection->getConnectionProperties())
            properties_[key] = value;
    properties_[ToolKey::State] = keys::ToolState::Idle;
}

DriverTool::~DriverTool() { waitForLossReport(); }

void DriverTool::connect(Status& status)
{
    const auto deviceService = debugger_.getDeviceService();
    if (!deviceService) {
        status.setError(ErrorCode::RequiredObjectMissing, "No Device service to register the target of %s with",
                        id_.c_str());
        return;
    }
    dropTarget(true);
    const std::string deviceName = text(ToolKey::DeviceName);
    const bool attached = reportFailure(status, "Cannot connect " + id_, [&] {
        std::shared_ptr<DIDevice> description;
        if (!deviceName.empty() || describedOnly()) {
            Status read;
            description = deviceService->getDeviceInfo(read, deviceName);
            if (!description)
                throw NotFoundError("No description of the device \"" + deviceName + "\": set the tool's " +
                                    ToolKey::DeviceName + " to a device the packs know");
        }
        attachTarget(std::move(description), deviceName);
    });
    if (!attached) {
        dropTarget(false);
        return;
    }
    setState(keys::ToolState::Ready);
}

void DriverTool::disconnect(Status&)
{
    dropTarget(true);
    setState(keys::ToolState::Idle);
}

void DriverTool::throwNotConnected() const
{
    throw StateError(ErrorCode::NotConnected, "Tool " + id_ + " is not connected");
}

void DriverTool::unsupported(Status& status, const char* what) const
{
    status.setError(ErrorCode::InvalidArguments, "Tool %s has no %s", text(ToolKey::Name).c_str(), what);
}

void DriverTool::startUpgrade(bool, tcf::IIntermediateResult&, Status& status) { unsupported(status, "firmware to upgrade"); }
void DriverTool::checkFirmware(Status& status) { unsupported(status, "firmware to check"); }
void DriverTool::setBootMode(Status& status) { unsupported(status, "boot mode"); }
void DriverTool::genericCommand(Status& status, std::vector<std::uint8_t>&, const std::vector<std::uint8_t>&, int)
{
    unsupported(status, "raw commands");
}
boost::json::object DriverTool::selfTest(Status& status)
{
    unsupported(status, "self test");
    return {};
}
bool DriverTool::calibrate(Status& status)
{
    unsupported(status, "calibration");
    return false;
}

boost::json::object DriverTool::getProperties() const
{
    std::lock_guard lock(mutex_);
    return properties_;
}

void DriverTool::setToolProperties(const boost::json::object& properties)
{
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, value] : properties)
            if (key != keys::ToolKey::ID)
                properties_[key] = value;
    }
    propertiesSet_(properties);
}

boost::signals2::connection DriverTool::connectPropertiesSet(const PropertiesSetSignal::slot_type& slot)
{
    return propertiesSet_.connect(slot);
}

std::string DriverTool::text(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    const auto* value = properties_.if_contains(key);
    return value && value->is_string() ? std::string(value->get_string()) : std::string();
}

void DriverTool::setState(const std::string& state)
{
    std::lock_guard lock(mutex_);
    properties_[ToolKey::State] = state;
}

boost::signals2::connection DriverTool::addConnectionLostHandler(const ConnectionLostSignal::slot_type& slot)
{
    return connectionLost_.connect(slot);
}

void DriverTool::reportLoss(std::function<void()> release, std::string reason)
{
    waitForLossReport();
    std::thread reporter([this, release = std::move(release), reason = std::move(reason)] {
        if (release)
            release();
        connectionLost_(reason);
    });
    std::lock_guard lock(mutex_);
    lossReporter_ = std::move(reporter);
}

void DriverTool::waitForLossReport()
{
    std::thread reporter;
    {
        std::lock_guard lock(mutex_);
        reporter.swap(lossReporter_);
    }
    if (!reporter.joinable())
        return;
    if (reporter.get_id() == std::this_thread::get_id())
        reporter.detach();
    else
        reporter.join();
}

} // namespace hil::bundles
