// SPDX-License-Identifier: Apache-2.0
#include "platform/osp/BundleLoader.h"

#include <algorithm>
#include <iostream>

#include <Poco/Exception.h>

namespace hil::osp {

BundleLoader::~BundleLoader()
{
    // Bundles may still hold activators made by the libraries; they go before the libraries do.
    for (auto& bundle : bundles_) {
        try {
            bundle->stop();
        } catch (const Poco::Exception& error) {
            std::cerr << "Failed to stop bundle " << bundle->symbolicName() << ": " << error.displayText() << '\n';
        }
    }
    bundles_.clear();
}

void BundleLoader::loadBundles(const std::filesystem::path& directory)
{
    if (!std::filesystem::is_directory(directory))
        throw Poco::FileNotFoundException("bundle directory", directory.string());
    std::vector<std::filesystem::path> folders;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        if (entry.is_directory() && std::filesystem::exists(entry.path() / "bundle.properties"))
            folders.push_back(entry.path());
    std::sort(folders.begin(), folders.end());
    for (const auto& folder : folders) {
        try {
            Bundle::Ptr bundle(new Bundle(folder, *this, registry_));
            std::lock_guard lock(mutex_);
            bundles_.push_back(bundle);
        } catch (const Poco::Exception& error) {
            std::cerr << "Skipping bundle folder " << folder << ": " << error.displayText() << '\n';
        }
    }
}

std::vector<Bundle::Ptr> BundleLoader::bundles() const
{
    std::lock_guard lock(mutex_);
    return bundles_;
}

Bundle::Ptr BundleLoader::findBundle(const std::string& symbolicName) const
{
    std::lock_guard lock(mutex_);
    for (const auto& bundle : bundles_)
        if (bundle->symbolicName() == symbolicName)
            return bundle;
    return {};
}

std::unique_ptr<BundleActivator> BundleLoader::createActivator(const std::filesystem::path& library,
                                                               const std::string& className)
{
    std::lock_guard lock(mutex_);
    const std::string path = std::filesystem::absolute(library).lexically_normal().string();
    if (!classLoader_.isLibraryLoaded(path))
        classLoader_.loadLibrary(path);
    if (!classLoader_.canCreate(className))
        throw Poco::NotFoundException("activator class " + className + " in", path);
    return std::unique_ptr<BundleActivator>(classLoader_.create(className));
}

} // namespace hil::osp
