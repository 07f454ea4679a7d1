// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <Poco/AutoPtr.h>
#include <Poco/Util/AbstractConfiguration.h>

#include "core/interfaces/IAdClassFactoryManager.h"
#include "core/interfaces/IDeviceService.h"
#include "core/interfaces/IOrixDebugger.h"
#include "host/ParentRegistry.h"

namespace hil::host {

/// The back-end's debugger object. Settings come from a properties file read at start-up; the
/// host hands it each service it creates.
class HostDebugger : public IOrixDebugger {
public:
    HostDebugger(std::shared_ptr<IAdClassFactoryManager> factoryManager,
                 Poco::AutoPtr<Poco::Util::AbstractConfiguration> settings);

    std::shared_ptr<IAdClassFactoryManager> getClassFactoryManager() override { return factoryManager_; }
    std::shared_ptr<IDeviceService> getDeviceService() override;
    IParentRegistry& getParentLookup() override { return parents_; }
    OwnerSlot& getCurrentOwnerSlot() override { return ownerSlot_; }
    std::string getSetting(const std::string& key, const std::string& defaultValue) override;
    std::shared_ptr<IService> getService(const std::string& name) override;

    /// Makes `service` known under its name, replacing one of the same name.
    void addService(std::shared_ptr<IService> service);
    /// Forgets every service; the host calls it before it lets them go.
    void clearServices();

private:
    std::shared_ptr<IAdClassFactoryManager> factoryManager_;
    Poco::AutoPtr<Poco::Util::AbstractConfiguration> settings_;
    std::mutex servicesMutex_;
    std::map<std::string, std::shared_ptr<IService>> services_;
    ParentRegistry parents_;
    OwnerSlot ownerSlot_;
};

} // namespace hil::host
