// SPDX-License-Identifier: Apache-2.0
#include "core/frame/OspClassFactoryManager.h"

#include <iostream>

#include <Poco/Exception.h>
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

#include "core/interfaces/BundleFactories.h"

namespace hil {

namespace {

std::shared_ptr<IAdClassFactory> carriedFactory(const osp::ServiceRef::Ptr& reference)
{
    const auto* carrier = reference ? dynamic_cast<const OspService<IAdClassFactory>*>(reference->instance().get()) : nullptr;
    if (!carrier)
        throw Poco::NullPointerException("no class factory registered as", reference ? reference->name() : "");
    return carrier->get();
}

} // namespace

OspClassFactoryManager::OspClassFactoryManager(osp::BundleContext::Ptr context)
    : registry_(context->registry()), loader_(nullptr), context_(std::move(context))
{
}

OspClassFactoryManager::OspClassFactoryManager(osp::OSPSubsystem& subsystem)
    : registry_(subsystem.serviceRegistry()), loader_(&subsystem.bundleLoader())
{
}

std::vector<std::string> OspClassFactoryManager::splitServices(const std::string& services)
{
    std::vector<std::string> tokens;
    boost::algorithm::split(tokens, services, boost::algorithm::is_any_of(",:"), boost::algorithm::token_compress_on);
    // "Tool, Memory" reads as two tokens: spaces around a token are not part of it.
    for (auto& token : tokens)
        boost::algorithm::trim(token);
    std::erase_if(tokens, [](const std::string& token) { return token.empty(); });
    return tokens;
}

std::vector<osp::Bundle::Ptr> OspClassFactoryManager::listBundles() const
{
    if (loader_)
        return loader_->bundles();
    if (context_)
        return context_->listBundles();
    return {};
}

std::vector<OspClassFactoryManager::Declaration> OspClassFactoryManager::declarations() const
{
    std::vector<Declaration> found;
    for (const auto& bundle : listBundles()) {
        const auto& properties = bundle->properties();
        if (!properties.hasProperty("services"))
            continue;
        for (const auto& token : splitServices(properties.getString("services"))) {
            if (!properties.hasProperty(token + ".classname"))
                continue;
            std::optional<std::string> category;
            if (properties.hasProperty(token + ".category"))
                category = properties.getString(token + ".category");
            found.push_back({bundle, std::move(category), properties.getString(token + ".classname")});
        }
    }
    return found;
}

void OspClassFactoryManager::startBundle(osp::Bundle& bundle)
{
    const int state = bundle.state();
    if (state == osp::Bundle::Starting || state == osp::Bundle::Active || state == osp::Bundle::Stopping)
        return;
    try {
        bundle.start();
    } catch (const Poco::Exception& error) {
        std::cout << "Failed to start bundle " << bundle.symbolicName() << ": " << error.displayText() << std::endl;
    }
}

std::vector<std::shared_ptr<IAdClassFactory>> OspClassFactoryManager::getFactories(const std::string& category)
{
    for (auto& declaration : declarations())
        if (declaration.category == category)
            startBundle(*declaration.bundle);
    std::vector<osp::ServiceRef::Ptr> references;
    registry_.find(kFactoryCategoryProperty + "==\"" + category + "\"", references);
    std::vector<std::shared_ptr<IAdClassFactory>> factories;
    for (const auto& reference : references)
        factories.push_back(carriedFactory(reference));
    return factories;
}

std::shared_ptr<IAdClassFactory> OspClassFactoryManager::getFactory(const std::string& className)
{
    for (auto& declaration : declarations())
        if (declaration.className == className)
            startBundle(*declaration.bundle);
    return carriedFactory(registry_.findByName(className));
}

std::vector<std::string> OspClassFactoryManager::getClassNames(const std::string& category)
{
    std::vector<std::string> names;
    for (const auto& declaration : declarations())
        if (declaration.category == category)
            names.push_back(declaration.className);
    return names;
}

std::string OspClassFactoryManager::getPreference(const std::string& key)
{
    return readPreference(registry_, key);
}

} // namespace hil
