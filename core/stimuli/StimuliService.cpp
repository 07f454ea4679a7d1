// SPDX-License-Identifier: Apache-2.0
#include "core/stimuli/StimuliService.h"

#include <algorithm>

#include "core/interfaces/IAdClassFactoryManager.h"
#include "core/interfaces/IDeviceService.h"
#include "platform/common/CoreException.h"

namespace hil {

std::vector<std::string> StimuliService::getSupportedStimuliTypes()
{
    const auto manager = debugger_.getClassFactoryManager();
    return manager ? manager->getClassNames(kStimuliProviderFactoryCategory) : std::vector<std::string>{};
}

std::shared_ptr<IStimuliProvider> StimuliService::setupProvider(Status& status, const std::string& type,
                                                                const boost::json::object& configuration)
{
    const auto manager = debugger_.getClassFactoryManager();
    if (!manager) {
        status.setFields(Severity::Error, ErrorCode::BadConfiguration,
                         "Failed to get the factory manager when creating stimuli provider %s", type.c_str());
        BackendLogger::error("", status.getMessage());
        return nullptr;
    }
    for (const auto& name : manager->getClassNames(kStimuliProviderFactoryCategory)) {
        if (name != type)
            continue;
        const auto factory = std::dynamic_pointer_cast<IStimuliProviderFactory>(manager->getFactory(name));
        if (!factory)
            continue;
        if (auto provider = factory->createStimuliProvider(debugger_, configuration)) {
            addStimuliProvider(provider);
            return provider;
        }
    }
    return nullptr;
}

void StimuliService::addStimuliProvider(std::shared_ptr<IStimuliProvider> provider) { providers_.push_back(std::move(provider)); }

void StimuliService::removeStimuliProvider(const std::shared_ptr<IStimuliProvider>& provider)
{
    const auto entry = std::find(providers_.begin(), providers_.end(), provider);
    if (entry != providers_.end())
        providers_.erase(entry);
}

std::vector<std::shared_ptr<IStimuliProvider>> StimuliService::getStimuliProviders() const { return providers_; }

std::vector<std::shared_ptr<IDeviceContext>> StimuliService::getDeviceChildren(const std::shared_ptr<IDeviceContext>& parent) const
{
    std::vector<std::shared_ptr<IDeviceContext>> devices;
    if (const auto deviceService = debugger_.getDeviceService())
        for (const auto& child : deviceService->getChildren(parent))
            devices.push_back(std::dynamic_pointer_cast<IDeviceContext>(child));
    return devices;
}

bool StimuliService::connect(const std::shared_ptr<IStimuliProvider>& provider)
{
    const auto channels = provider->getChannels();
    int connected = 0;
    int failed = 0;
    for (const auto& device : getDeviceChildren(nullptr)) {
        const auto port = device ? device->getStimuliPort() : nullptr;
        if (!port)
            continue;
        for (const auto& channel : channels) {
            if (port->getDesignator() != channel->getDesignator())
                continue;
            if (!channel->attachPort(port)) {
                ++failed;
                break;
            }
            if (!port->attachChannel(channel)) {
                channel->detachPort();
                ++failed;
                break;
            }
            connections_.emplace(provider, Binding{channel, port});
            ++connected;
        }
    }
    if (failed != 0 && connected != 0) {
        disconnect(provider);
        return false;
    }
    return connected != 0;
}

bool StimuliService::disconnect(const std::shared_ptr<IStimuliProvider>& provider)
{
    const auto [first, last] = connections_.equal_range(provider);
    if (first == last)
        return false;
    for (auto binding = first; binding != last; ++binding) {
        binding->second.first->detachPort();
        binding->second.second->detachChannel();
    }
    connections_.erase(first, last);
    return true;
}

void StimuliService::setDesignator(const std::string& deviceId, const std::string& designator)
{
    const auto deviceService = debugger_.getDeviceService();
    if (!deviceService)
        CoreException::createAndThrow("", ErrorCode::RequiredObjectMissing, "No Device service holds device contexts");
    const auto device = std::dynamic_pointer_cast<IDeviceContext>(deviceService->getContextFromId(deviceId));
    if (!device)
        CoreException::createAndThrow("libtcf", ErrorCode::InvalidContext, "Invalid context %s,", deviceId.c_str());
    const auto port = device->getStimuliPort();
    if (!port)
        CoreException::createAndThrow("", ErrorCode::RequiredObjectMissing, "Device %s has no stimuli port",
                                      deviceId.c_str());
    port->assignDesignator(designator);
}

} // namespace hil
