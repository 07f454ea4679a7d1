// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "platform/osp/BundleLoader.h"
#include "platform/osp/ServiceRegistry.h"

namespace hil::osp {

/// The service platform as the host owns it: the registry and the bundle loader. The loader is
/// destroyed first, so bundles stop while the registry still exists.
class OSPSubsystem {
public:
    OSPSubsystem() : loader_(registry_) {}
    ServiceRegistry& serviceRegistry() { return registry_; }
    BundleLoader& bundleLoader() { return loader_; }

private:
    ServiceRegistry registry_;
    BundleLoader loader_;
};

} // namespace hil::osp
