// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include <Poco/AutoPtr.h>
#include <Poco/RefCountedObject.h>

namespace hil::osp {

class Bundle;
class BundleLoader;
class ServiceRegistry;

/// What a starting bundle sees of the platform: the registry, itself and the other bundles.
class BundleContext : public Poco::RefCountedObject {
public:
    using Ptr = Poco::AutoPtr<BundleContext>;

    BundleContext(Bundle& bundle, BundleLoader& loader, ServiceRegistry& registry)
        : bundle_(bundle), loader_(loader), registry_(registry)
    {
    }
    ServiceRegistry& registry() const { return registry_; }
    Bundle& thisBundle() const { return bundle_; }
    /// Every bundle the platform knows, in load order.
    std::vector<Poco::AutoPtr<Bundle>> listBundles() const;
    /// The bundle with this symbolic name, or null.
    Poco::AutoPtr<Bundle> findBundle(const std::string& symbolicName) const;

private:
    Bundle& bundle_;
    BundleLoader& loader_;
    ServiceRegistry& registry_;
};

} // namespace hil::osp
