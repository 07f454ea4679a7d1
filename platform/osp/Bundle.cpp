// SPDX-License-Identifier: Apache-2.0
#include "platform/osp/Bundle.h"

#include <Poco/Exception.h>
#include <Poco/Util/PropertyFileConfiguration.h>

#include "platform/osp/BundleActivator.h"
#include "platform/osp/BundleLoader.h"

namespace hil::osp {

std::vector<Bundle::Ptr> BundleContext::listBundles() const { return loader_.bundles(); }

Bundle::Ptr BundleContext::findBundle(const std::string& symbolicName) const { return loader_.findBundle(symbolicName); }

Bundle::Bundle(const std::filesystem::path& folder, BundleLoader& loader, ServiceRegistry& registry)
    : folder_(folder), loader_(loader), context_(new BundleContext(*this, loader, registry))
{
    const auto file = folder / "bundle.properties";
    if (!std::filesystem::is_regular_file(file))
        throw Poco::FileNotFoundException("bundle properties", file.string());
    properties_ = new Poco::Util::PropertyFileConfiguration(file.string());
    symbolicName_ = properties_->getString("bundle.symbolicName", "");
    if (symbolicName_.empty())
        throw Poco::DataFormatException("bundle.symbolicName missing", file.string());
}

Bundle::~Bundle() = default;

int Bundle::state() const
{
    std::lock_guard lock(mutex_);
    return state_;
}

void Bundle::start()
{
    // Recursive: an activator may look up factories, which may ask this bundle to start again.
    std::lock_guard lock(mutex_);
    if (state_ == Starting || state_ == Active || state_ == Stopping)
        return;
    state_ = Starting;
    try {
        const std::string library = properties_->getString("bundle.library", "");
        const std::string activatorClass = properties_->getString("bundle.activator", "");
        if (library.empty() || activatorClass.empty())
            throw Poco::DataFormatException("bundle.library or bundle.activator missing", symbolicName_);
        activator_ = loader_.createActivator(folder_ / library, activatorClass);
        activator_->start(context_);
        state_ = Active;
    } catch (const Poco::Exception&) {
        activator_.reset();
        state_ = Resolved;
        throw;
    } catch (const std::exception& error) {
        activator_.reset();
        state_ = Resolved;
        throw Poco::RuntimeException(symbolicName_ + ": " + error.what());
    }
}

void Bundle::stop()
{
    std::lock_guard lock(mutex_);
    if (state_ != Active)
        return;
    state_ = Stopping;
    try {
        activator_->stop(context_);
    } catch (...) {
        state_ = Resolved;
        throw;
    }
    state_ = Resolved;
}

} // namespace hil::osp
