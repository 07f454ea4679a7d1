// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "core/interfaces/IDeviceContext.h"
#include "core/interfaces/IOrixDebugger.h"

namespace hil::bundles {

/// The contexts of one connected target: its device (which is also the parent of its memories
/// and registers) and what lives below it.
struct TargetContexts {
    std::shared_ptr<IDeviceContext> device;
    std::shared_ptr<IMemoryRegistersParent> parent;
    ContextList memories;
    ContextList registers;
    ContextList messages;
};

/// The contexts of a device object that is its own memory and register parent.
template <class Device>
TargetContexts targetContextsOf(const std::shared_ptr<Device>& device, ContextList messages)
{
    TargetContexts target{device, device, {}, {}, std::move(messages)};
    for (const auto& memory : device->listMemoryContexts())
        target.memories.push_back(memory);
    for (const auto& reg : device->listRegistersContexts())
        target.registers.push_back(reg);
    return target;
}

/// Makes the target known: its parent first (a client told of the new contexts may ask for the
/// device's children at once), then the device, memories, registers and messages with their
/// services. A service the host does not run is skipped.
void registerTarget(IOrixDebugger& debugger, const TargetContexts& target);

/// Removes what `registerTarget` added, in the reverse order. Contexts a service dropped by
/// itself (their client went away) are left alone.
void unregisterTarget(IOrixDebugger& debugger, const TargetContexts& target);

} // namespace hil::bundles
