#pragma once

#include <map>
#include <memory>
#include <string>

#include "core/interfaces/IAdClassFactoryManager.h"
#include "core/interfaces/IDeviceService.h"
#include "core/interfaces/IOrixDebugger.h"

namespace hil::fakes {

/// A parent lookup filled by the test: id -> parent object.
class FakeParentLookup : public IParentLookup {
public:
    std::shared_ptr<IMemoryRegistersParent> findParent(const std::string& id) const override
    {
        const auto entry = parents.find(id);
        return entry == parents.end() ? nullptr : entry->second;
    }
    std::map<std::string, std::shared_ptr<IMemoryRegistersParent>> parents;
};

/// The host's debugger object as tests need it: a real per-thread owner slot, settings from a
/// map, and a factory manager and device service that a test may plug in.
class FakeDebugger : public IOrixDebugger {
public:
    std::shared_ptr<IAdClassFactoryManager> getClassFactoryManager() override { return factoryManager; }
    std::shared_ptr<IDeviceService> getDeviceService() override { return deviceService; }
    IParentLookup& getParentLookup() override { return parentLookup; }
    OwnerSlot& getCurrentOwnerSlot() override { return ownerSlot; }
    std::string getSetting(const std::string& key, const std::string& defaultValue) override
    {
        const auto entry = settings.find(key);
        return entry == settings.end() ? defaultValue : entry->second;
    }

    std::shared_ptr<IAdClassFactoryManager> factoryManager;
    std::shared_ptr<IDeviceService> deviceService;
    FakeParentLookup parentLookup;
    OwnerSlot ownerSlot;
    std::map<std::string, std::string> settings;
};

} // namespace hil::fakes
