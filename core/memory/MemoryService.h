// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frame/ServiceBase.h"
#include "core/interfaces/IMemoryService.h"

namespace hil {

/// The "Memory" service: the registry of the memory contexts that driver bundles make.
class MemoryService : public ServiceBase<IMemoryService> {
public:
    explicit MemoryService(IOrixDebugger& debugger) : ServiceBase(debugger, "Memory") {}

    std::shared_ptr<IMemoryContext> getMemoryContextFromId(const std::string& id) const override
    {
        return std::dynamic_pointer_cast<IMemoryContext>(getContextFromId(id));
    }

    std::vector<std::shared_ptr<IMemoryContext>> getMemoryChildren(const std::shared_ptr<IMemoryContext>& parent) const override
    {
        std::vector<std::shared_ptr<IMemoryContext>> children;
        for (const auto& child : getChildren(parent))
            children.push_back(std::dynamic_pointer_cast<IMemoryContext>(child));
        return children;
    }
};

} // namespace hil
