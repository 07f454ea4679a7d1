// SPDX-License-Identifier: Apache-2.0
#include "host/HostDebugger.h"

namespace hil::host {

HostDebugger::HostDebugger(std::shared_ptr<IAdClassFactoryManager> factoryManager,
                           Poco::AutoPtr<Poco::Util::AbstractConfiguration> settings)
    : factoryManager_(std::move(factoryManager)), settings_(std::move(settings))
{
}

std::shared_ptr<IDeviceService> HostDebugger::getDeviceService()
{
    return std::dynamic_pointer_cast<IDeviceService>(getService("Device"));
}

std::shared_ptr<IService> HostDebugger::getService(const std::string& name)
{
    std::lock_guard lock(servicesMutex_);
    const auto entry = services_.find(name);
    return entry == services_.end() ? nullptr : entry->second;
}

void HostDebugger::addService(std::shared_ptr<IService> service)
{
    std::lock_guard lock(servicesMutex_);
    services_[service->getName()] = std::move(service);
}

void HostDebugger::clearServices()
{
    std::lock_guard lock(servicesMutex_);
    services_.clear();
}

std::string HostDebugger::getSetting(const std::string& key, const std::string& defaultValue)
{
    return settings_->getString(key, defaultValue);
}

} // namespace hil::host
