// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/interfaces/IMemoryContext.h"
#include "core/interfaces/IService.h"

namespace hil {

/// The Memory service: its registry of memory contexts.
class IMemoryService : public IServiceBase {
public:
    /// The memory context registered under `id`; null when there is none or it is another kind.
    virtual std::shared_ptr<IMemoryContext> getMemoryContextFromId(const std::string& id) const = 0;
    /// The registered children of `parent`, one entry per child, null for a child that is not a
    /// memory context.
    virtual std::vector<std::shared_ptr<IMemoryContext>> getMemoryChildren(const std::shared_ptr<IMemoryContext>& parent) const = 0;
};

} // namespace hil
