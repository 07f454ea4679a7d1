// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include <Poco/Exception.h>

#include "core/interfaces/IAdClassFactory.h"
#include "core/interfaces/OspService.h"
#include "platform/osp/BundleContext.h"
#include "platform/osp/PreferencesService.h"
#include "platform/osp/Properties.h"
#include "platform/osp/ServiceRegistry.h"

namespace hil {

/// The property a class factory is registered with, naming its category.
inline const std::string kFactoryCategoryProperty = "CategoryName";

/// The preference `key` from the platform's preferences service ("" when unset). Throws
/// `Poco::NullPointerException` when no preferences service is registered.
inline std::string readPreference(const osp::ServiceRegistry& registry, const std::string& key)
{
    const auto reference = registry.findByName(osp::PreferencesService::SERVICE_NAME);
    const auto* preferences = reference ? dynamic_cast<const osp::PreferencesService*>(reference->instance().get()) : nullptr;
    if (!preferences)
        throw Poco::NullPointerException("no preferences service");
    return preferences->configuration().getString(key, "");
}

/// What a bundle's activator needs of the platform: it publishes its class factories where the
/// core finds them (by class name and by category), and reads preferences. A bundle needs no
/// more of the core than this, so it never builds the core's own factory lookup.
class BundleFactories {
public:
    /// Throws `Poco::NullPointerException` without a context: a bundle started by hand.
    explicit BundleFactories(const osp::BundleContext::Ptr& context) : registry_(requireContext(context).registry()) {}

    /// Registers `factory` under its class name, with its category as `kFactoryCategoryProperty`.
    void publish(std::shared_ptr<IAdClassFactory> factory)
    {
        osp::Properties properties;
        properties.set(kFactoryCategoryProperty, factory->getCategory());
        const std::string className = factory->getClassName();
        registry_.registerService(className, new OspService<IAdClassFactory>(std::move(factory)), properties);
    }

    std::string preference(const std::string& key) const { return readPreference(registry_, key); }

private:
    static const osp::BundleContext& requireContext(const osp::BundleContext::Ptr& context)
    {
        if (!context)
            throw Poco::NullPointerException("a bundle starts with its context");
        return *context;
    }

    osp::ServiceRegistry& registry_;
};

} // namespace hil
