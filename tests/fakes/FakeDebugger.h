// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <string>

#include "core/interfaces/IAdClassFactoryManager.h"
#include "core/interfaces/IDeviceService.h"
#include "core/interfaces/IOrixDebugger.h"
#include "host/ParentRegistry.h"

namespace hil::fakes {

/// The host's debugger object as tests need it: a real per-thread owner slot and parent
/// registry, settings from a map, and a factory manager and services that a test may plug in.
class FakeDebugger : public IOrixDebugger {
public:
    std::shared_ptr<IAdClassFactoryManager> getClassFactoryManager() override { return factoryManager; }
    std::shared_ptr<IDeviceService> getDeviceService() override
    {
        return std::dynamic_pointer_cast<IDeviceService>(getService("Device"));
    }
    IParentRegistry& getParentLookup() override { return parents; }
    OwnerSlot& getCurrentOwnerSlot() override { return ownerSlot; }
    std::string getSetting(const std::string& key, const std::string& defaultValue) override
    {
        const auto entry = settings.find(key);
        return entry == settings.end() ? defaultValue : entry->second;
    }
    std::shared_ptr<IService> getService(const std::string& name) override
    {
        const auto entry = services.find(name);
        return entry == services.end() ? nullptr : entry->second;
    }

    /// Plugs `service` in under its name.
    void addService(const std::shared_ptr<IService>& service) { services[service->getName()] = service; }

    std::shared_ptr<IAdClassFactoryManager> factoryManager;
    std::map<std::string, std::shared_ptr<IService>> services;
    host::ParentRegistry parents;
    OwnerSlot ownerSlot;
    std::map<std::string, std::string> settings;
};

} // namespace hil::fakes
