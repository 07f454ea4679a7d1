// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include <Poco/AutoPtr.h>
#include <Poco/RefCountedObject.h>
#include <Poco/Util/AbstractConfiguration.h>

#include "platform/osp/BundleContext.h"

namespace hil::osp {

class BundleActivator;

/// One plug-in module: a folder with a "bundle.properties" file naming its symbolic name
/// ("bundle.symbolicName"), its library ("bundle.library", relative to the folder) and its
/// activator class ("bundle.activator"); any other property is the bundle's own, such as the
/// "services" it declares.
class Bundle : public Poco::RefCountedObject {
public:
    using Ptr = Poco::AutoPtr<Bundle>;

    /// Bundle states; 3, 4 and 5 are the values other modules test for.
    enum State { Installed = 1, Resolved = 2, Starting = 3, Active = 4, Stopping = 5 };

    /// Reads `folder`/bundle.properties; throws `Poco::Exception` when it is missing or lacks a
    /// symbolic name.
    Bundle(const std::filesystem::path& folder, BundleLoader& loader, ServiceRegistry& registry);
    ~Bundle() override;

    const std::string& symbolicName() const { return symbolicName_; }
    int state() const;
    const Poco::Util::AbstractConfiguration& properties() const { return *properties_; }
    const std::filesystem::path& folder() const { return folder_; }

    /// Loads the library, creates the activator and starts it. Does nothing when the bundle is
    /// already starting, active or stopping. On failure the bundle goes back to `Resolved` and a
    /// `Poco::Exception` describes why (a library that cannot load, an unknown activator class,
    /// or whatever the activator threw).
    void start();
    /// Stops an active bundle; its library stays loaded.
    void stop();

private:
    std::filesystem::path folder_;
    std::string symbolicName_;
    Poco::AutoPtr<Poco::Util::AbstractConfiguration> properties_;
    BundleLoader& loader_;
    BundleContext::Ptr context_;
    std::unique_ptr<BundleActivator> activator_;
    mutable std::recursive_mutex mutex_;
    State state_ = Resolved;
};

} // namespace hil::osp
