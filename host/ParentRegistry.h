// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/interfaces/IOrixDebugger.h"

namespace hil::host {

/// The parents of memory and register contexts by id, registered by the bundles that make them.
/// Safe from any thread.
class ParentRegistry : public IParentRegistry {
public:
    std::shared_ptr<IMemoryRegistersParent> findParent(const std::string& id) const override
    {
        std::lock_guard lock(mutex_);
        const auto entry = parents_.find(id);
        return entry == parents_.end() ? nullptr : entry->second;
    }

    void addParent(const std::string& id, std::shared_ptr<IMemoryRegistersParent> parent) override
    {
        std::lock_guard lock(mutex_);
        parents_[id] = std::move(parent);
    }

    void removeParent(const std::string& id) override
    {
        std::lock_guard lock(mutex_);
        parents_.erase(id);
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<IMemoryRegistersParent>> parents_;
};

} // namespace hil::host
