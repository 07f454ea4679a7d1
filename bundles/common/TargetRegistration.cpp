// SPDX-License-Identifier: Apache-2.0
#include "bundles/common/TargetRegistration.h"

#include "core/interfaces/IDeviceService.h"
#include "core/interfaces/IService.h"

namespace hil::bundles {

namespace {

/// The registry of the service the host runs under `name`; null when it runs none.
std::shared_ptr<IServiceBase> registryOf(IOrixDebugger& debugger, const std::string& name)
{
    return std::dynamic_pointer_cast<IServiceBase>(debugger.getService(name));
}

void registerWith(const std::shared_ptr<IServiceBase>& service, ContextList contexts)
{
    if (service && !contexts.empty())
        service->addContexts(contexts);
}

void unregisterFrom(const std::shared_ptr<IServiceBase>& service, const ContextList& contexts)
{
    if (!service)
        return;
    ContextList registered;
    for (const auto& context : contexts)
        if (context && service->getContextFromId(context->getId()) == context)
            registered.push_back(context);
    if (!registered.empty())
        service->removeContexts(registered);
}

} // namespace

void registerTarget(IOrixDebugger& debugger, const TargetContexts& target)
{
    debugger.getParentLookup().addParent(target.device->getId(), target.parent);
    if (const auto devices = debugger.getDeviceService())
        devices->addContext(target.device);
    registerWith(registryOf(debugger, "Memory"), target.memories);
    registerWith(registryOf(debugger, "Registers"), target.registers);
    registerWith(registryOf(debugger, "Message"), target.messages);
}

void unregisterTarget(IOrixDebugger& debugger, const TargetContexts& target)
{
    unregisterFrom(registryOf(debugger, "Message"), target.messages);
    unregisterFrom(registryOf(debugger, "Registers"), target.registers);
    unregisterFrom(registryOf(debugger, "Memory"), target.memories);
    unregisterFrom(debugger.getDeviceService(), {target.device});
    debugger.getParentLookup().removeParent(target.device->getId());
}

} // namespace hil::bundles
