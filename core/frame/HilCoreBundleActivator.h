// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "platform/osp/BundleActivator.h"

namespace hil {

/// Starts the core bundle: registers one TCF service factory per service, in the order the host
/// creates them.
class HilCoreBundleActivator : public osp::BundleActivator {
public:
    /// Throws `Poco::NullPointerException` for a null context or a missing preferences service.
    void start(osp::BundleContext::Ptr context) override;
    /// Does nothing: the services live as long as the host holds them.
    void stop(osp::BundleContext::Ptr context) override;
};

} // namespace hil
