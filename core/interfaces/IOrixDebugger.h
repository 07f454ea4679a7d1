// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <boost/thread/tss.hpp>

#include "core/interfaces/IMemoryContext.h"
#include "core/interfaces/IRegistersContext.h"

namespace hil {

class IAdClassFactoryManager;
class IDeviceService;
class IService;

/// A per-thread slot for the id of the client connection whose command the thread is handling.
/// Each thread sees its own value; a thread that never handled a command sees none.
class OwnerSlot {
public:
    std::optional<int> get() const
    {
        const int* owner = slot_.get();
        return owner ? std::optional<int>(*owner) : std::nullopt;
    }
    /// Replaces the calling thread's value.
    void set(int ownerId) { slot_.reset(std::make_unique<int>(ownerId).release()); }

private:
    boost::thread_specific_ptr<int> slot_;
};

/// The object that owns a device's memory and register contexts, in its own order.
class IMemoryRegistersParent {
public:
    virtual ~IMemoryRegistersParent() = default;
    virtual std::vector<std::shared_ptr<IRegistersContext>> listRegistersContexts() const = 0;
    virtual std::vector<std::shared_ptr<IMemoryContext>> listMemoryContexts() const = 0;
};

/// Finds the parent object of memory and register contexts by the parent's id.
class IParentLookup {
public:
    virtual ~IParentLookup() = default;
    /// The parent named `id`, or null.
    virtual std::shared_ptr<IMemoryRegistersParent> findParent(const std::string& id) const = 0;
};

/// The parent lookup as the host offers it to bundles, which register their parents in it.
class IParentRegistry : public IParentLookup {
public:
    /// Registers `parent` under `id`, replacing what was there.
    virtual void addParent(const std::string& id, std::shared_ptr<IMemoryRegistersParent> parent) = 0;
    virtual void removeParent(const std::string& id) = 0;
};

/// The host's debugger object. Services and command servers hold it by reference; the host
/// keeps it alive longer than all of them.
class IOrixDebugger {
public:
    virtual ~IOrixDebugger() = default;
    /// The factory manager, or null when the host has none.
    virtual std::shared_ptr<IAdClassFactoryManager> getClassFactoryManager() = 0;
    /// The service whose registry holds the device contexts, or null before it exists.
    virtual std::shared_ptr<IDeviceService> getDeviceService() = 0;
    /// The parents of memory and register contexts; the bundles that make those contexts
    /// register their parents here, the Memory and Registers servers look them up.
    virtual IParentRegistry& getParentLookup() = 0;
    /// The calling thread's owner slot; safe from any thread.
    virtual OwnerSlot& getCurrentOwnerSlot() = 0;
    /// The setting stored for `key`, or `defaultValue` when there is none.
    virtual std::string getSetting(const std::string& key, const std::string& defaultValue) = 0;
    /// The service the host runs under `name` ("Memory", "Registers", ...), or null. Driver
    /// bundles find the registries of their contexts here.
    virtual std::shared_ptr<IService> getService(const std::string& name) = 0;
};

} // namespace hil
