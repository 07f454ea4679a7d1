// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "bundles/common/AddressSpaceLayout.h"
#include "bundles/common/TargetContext.h"
#include "core/interfaces/IMemoryContext.h"

namespace hil::bundles {

/// What every driver's memory context shares: one address space below a device, its properties
/// from the space's layout, and the memory-changed signal, which the derived memory fires with
/// what reached the target.
class DriverMemory : public TargetContext<IMemoryContext> {
public:
    DriverMemory(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId, AddressSpaceLayout layout)
        : TargetContext(std::move(id), std::move(device), std::move(deviceId)), layout_(std::move(layout))
    {
    }

    boost::json::object getProperties() const override { return layout_.properties(id_, parentId_); }
    std::string getKind() const override { return "memory"; }
    boost::signals2::connection addMemoryChangedHandler(const MemoryChangedSignal::slot_type& slot) override
    {
        return memoryChanged_.connect(slot);
    }

    const AddressSpaceLayout& layout() const { return layout_; }

protected:
    const AddressSpaceLayout layout_;
    MemoryChangedSignal memoryChanged_;
};

} // namespace hil::bundles
