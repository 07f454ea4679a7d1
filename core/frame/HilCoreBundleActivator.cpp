// SPDX-License-Identifier: Apache-2.0
#include "core/frame/HilCoreBundleActivator.h"

#include <Poco/ClassLibrary.h>
#include <Poco/Exception.h>

#include "core/device/DeviceServiceFactory.h"
#include "core/frame/TcfServiceFactory.h"
#include "core/interfaces/BundleFactories.h"
#include "core/memory/MemoryCommandServer.h"
#include "core/memory/MemoryService.h"
#include "core/memory/RegistersCommandServer.h"
#include "core/memory/RegistersService.h"
#include "core/stimuli/MessageCommandServer.h"
#include "core/stimuli/MessageService.h"
#include "core/stimuli/StimuliCommandServer.h"
#include "core/stimuli/StimuliService.h"
#include "core/tools/ToolCommandServer.h"
#include "core/tools/ToolService.h"
#include "platform/osp/PreferencesService.h"
#include "platform/osp/ServiceRegistry.h"

namespace hil {

namespace {

using FactoryMaker = std::shared_ptr<IAdClassFactory> (*)();

/// The service factories, in the order the host creates their services: "Tool", "Device",
/// "Memory", "Registers", "Message", "Stimuli".
const std::vector<FactoryMaker> kServiceFactories{
    [] () -> std::shared_ptr<IAdClassFactory> {
        return std::make_shared<TcfServiceFactory<ToolService, ToolCommandServer>>("Tool");
    },
    [] () -> std::shared_ptr<IAdClassFactory> { return std::make_shared<DeviceServiceFactory>(); },
    [] () -> std::shared_ptr<IAdClassFactory> {
        return std::make_shared<TcfServiceFactory<MemoryService, MemoryCommandServer>>("Memory");
    },
    [] () -> std::shared_ptr<IAdClassFactory> {
        return std::make_shared<TcfServiceFactory<RegistersService, RegistersCommandServer>>("Registers");
    },
    [] () -> std::shared_ptr<IAdClassFactory> {
        return std::make_shared<TcfServiceFactory<MessageService, MessageCommandServer>>("Message");
    },
    [] () -> std::shared_ptr<IAdClassFactory> {
        return std::make_shared<TcfServiceFactory<StimuliService, StimuliCommandServer>>("Stimuli");
    },
};

} // namespace

void HilCoreBundleActivator::start(osp::BundleContext::Ptr context)
{
    BundleFactories factories(context);
    const auto preferences = context->registry().findByName(osp::PreferencesService::SERVICE_NAME);
    if (!preferences)
        throw Poco::NullPointerException("preferences service not registered");
    for (const auto makeFactory : kServiceFactories)
        factories.publish(makeFactory());
}

void HilCoreBundleActivator::stop(osp::BundleContext::Ptr) {}

} // namespace hil

// The library's one entry point: the platform's class loader asks it for the activator.
extern "C" __attribute__((visibility("default"))) bool pocoBuildManifest(Poco::ManifestBase* manifest)
{
    using ActivatorManifest = Poco::Manifest<hil::osp::BundleActivator>;
    if (std::string(manifest->className()) != typeid(ActivatorManifest).name())
        return false;
    static_cast<ActivatorManifest*>(manifest)->insert(
        new Poco::MetaObject<hil::HilCoreBundleActivator, hil::osp::BundleActivator>("HilCoreBundleActivator"));
    return true;
}
