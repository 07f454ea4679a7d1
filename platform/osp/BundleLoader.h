// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <Poco/ClassLoader.h>

#include "platform/osp/Bundle.h"
#include "platform/osp/BundleActivator.h"

namespace hil::osp {

/// Finds the bundles of a directory and loads their libraries. Libraries stay loaded for the
/// loader's lifetime, so everything a bundle made must be gone before the loader is.
class BundleLoader {
public:
    explicit BundleLoader(ServiceRegistry& registry) : registry_(registry) {}
    ~BundleLoader();

    /// Adds every sub-folder of `directory` that holds a bundle.properties, in name order. A
    /// folder whose properties cannot be read is reported on standard error and passed over.
    /// Throws `Poco::FileNotFoundException` when `directory` does not exist.
    void loadBundles(const std::filesystem::path& directory);

    std::vector<Bundle::Ptr> bundles() const;
    /// The bundle with this symbolic name, or null.
    Bundle::Ptr findBundle(const std::string& symbolicName) const;

    /// Loads `library` (once) and creates an activator of `className` from its manifest. Throws
    /// `Poco::Exception` when the library does not load or does not export that class.
    std::unique_ptr<BundleActivator> createActivator(const std::filesystem::path& library, const std::string& className);

private:
    ServiceRegistry& registry_;
    mutable std::mutex mutex_;
    std::vector<Bundle::Ptr> bundles_;
    Poco::ClassLoader<BundleActivator> classLoader_;
};

} // namespace hil::osp
