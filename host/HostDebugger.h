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

namespace hil::host {

/// The parents of memory and register contexts, registered by the bundles that make them.
class ParentRegistry : public IParentRegistry {
public:
    std::shared_ptr<IMemoryRegistersParent> findParent(const std::string& id) const override;
    void addParent(const std::string& id, std::shared_ptr<IMemoryRegistersParent> parent) override;
    void removeParent(const std::string& id) override;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<IMemoryRegistersParent>> parents_;
};

/// The back-end's debugger object. Settings come from a properties file read at start-up.
class HostDebugger : public IOrixDebugger {
public:
    HostDebugger(std::shared_ptr<IAdClassFactoryManager> factoryManager,
                 Poco::AutoPtr<Poco::Util::AbstractConfiguration> settings);

    std::shared_ptr<IAdClassFactoryManager> getClassFactoryManager() override { return factoryManager_; }
    std::shared_ptr<IDeviceService> getDeviceService() override;
    IParentLookup& getParentLookup() override { return parents_; }
    OwnerSlot& getCurrentOwnerSlot() override { return ownerSlot_; }
    std::string getSetting(const std::string& key, const std::string& defaultValue) override;

    void setDeviceService(std::shared_ptr<IDeviceService> service);

private:
    std::shared_ptr<IAdClassFactoryManager> factoryManager_;
    Poco::AutoPtr<Poco::Util::AbstractConfiguration> settings_;
    std::mutex deviceServiceMutex_;
    std::shared_ptr<IDeviceService> deviceService_;
    ParentRegistry parents_;
    OwnerSlot ownerSlot_;
};

} // namespace hil::host
