// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "platform/osp/BundleContext.h"

namespace hil::osp {

/// The entry object of a bundle: created from the bundle's library by class name when the bundle
/// starts. Libraries export it through `pocoBuildManifest` for `Poco::Manifest<BundleActivator>`.
class BundleActivator {
public:
    virtual void start(BundleContext::Ptr context) = 0;
    virtual void stop(BundleContext::Ptr context) = 0;
    virtual ~BundleActivator() = default;
};

} // namespace hil::osp
