#include "host/HostDebugger.h"

namespace hil::host {

std::shared_ptr<IMemoryRegistersParent> ParentRegistry::findParent(const std::string& id) const
{
    std::lock_guard lock(mutex_);
    const auto entry = parents_.find(id);
    return entry == parents_.end() ? nullptr : entry->second;
}

void ParentRegistry::addParent(const std::string& id, std::shared_ptr<IMemoryRegistersParent> parent)
{
    std::lock_guard lock(mutex_);
    parents_[id] = std::move(parent);
}

void ParentRegistry::removeParent(const std::string& id)
{
    std::lock_guard lock(mutex_);
    parents_.erase(id);
}

HostDebugger::HostDebugger(std::shared_ptr<IAdClassFactoryManager> factoryManager,
                           Poco::AutoPtr<Poco::Util::AbstractConfiguration> settings)
    : factoryManager_(std::move(factoryManager)), settings_(std::move(settings))
{
}

std::shared_ptr<IDeviceService> HostDebugger::getDeviceService()
{
    std::lock_guard lock(deviceServiceMutex_);
    return deviceService_;
}

void HostDebugger::setDeviceService(std::shared_ptr<IDeviceService> service)
{
    std::lock_guard lock(deviceServiceMutex_);
    deviceService_ = std::move(service);
}

std::string HostDebugger::getSetting(const std::string& key, const std::string& defaultValue)
{
    return settings_->getString(key, defaultValue);
}

} // namespace hil::host
