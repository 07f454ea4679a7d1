// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/interfaces/IAdClassFactoryManager.h"
#include "platform/osp/BundleContext.h"
#include "platform/osp/OSPSubsystem.h"

namespace hil {

/// Finds class factories in the platform's service registry, where bundles publish them with
/// `BundleFactories`.
///
/// Bundles declare the factories they register in their properties: "services" lists tokens
/// separated by ',' or ':'; for each token t, "t.category" and "t.classname" name the factory's
/// category and class name. Before a lookup, the manager starts the bundles that declare a match.
class OspClassFactoryManager : public IAdClassFactoryManager {
public:
    /// For a bundle: bundles come from the context.
    explicit OspClassFactoryManager(osp::BundleContext::Ptr context);
    /// For the host: bundles come from the loader.
    explicit OspClassFactoryManager(osp::OSPSubsystem& subsystem);

    /// Throws `Poco::NullPointerException` when no `OspService<IAdClassFactory>` has that name.
    std::shared_ptr<IAdClassFactory> getFactory(const std::string& className) override;
    std::vector<std::shared_ptr<IAdClassFactory>> getFactories(const std::string& category) override;
    std::vector<std::string> getClassNames(const std::string& category) override;
    /// Throws `Poco::NullPointerException` when no preferences service is registered.
    std::string getPreference(const std::string& key) override;

    /// Splits a "services" text on ',' and ':'; runs of separators give no empty token, and
    /// spaces around a token are dropped.
    static std::vector<std::string> splitServices(const std::string& services);

private:
    struct Declaration {
        osp::Bundle::Ptr bundle;
        std::optional<std::string> category; ///< a token may name its class without a category
        std::string className;
    };

    std::vector<osp::Bundle::Ptr> listBundles() const;
    /// Every (bundle, category, class name) that bundles declare, in bundle order.
    std::vector<Declaration> declarations() const;
    static void startBundle(osp::Bundle& bundle);

    osp::ServiceRegistry& registry_;
    osp::BundleLoader* loader_;
    osp::BundleContext::Ptr context_;
};

} // namespace hil
