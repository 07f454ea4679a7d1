// SPDX-License-Identifier: Apache-2.0
// The "Targets" bundle: registers the TCF service of that name.

#include <Poco/ClassLibrary.h>

#include "bundles/targets/TargetsCommandServer.h"
#include "core/frame/TcfServiceFactory.h"
#include "core/interfaces/BundleFactories.h"
#include "platform/osp/BundleActivator.h"

namespace hil::targets {

class TargetsBundleActivator : public osp::BundleActivator {
public:
    void start(osp::BundleContext::Ptr context) override
    {
        BundleFactories(context).publish(
            std::make_shared<TcfServiceFactory<TargetsService, TargetsCommandServer>>("Targets"));
    }
    void stop(osp::BundleContext::Ptr) override {}
};

} // namespace hil::targets

POCO_BEGIN_MANIFEST(hil::osp::BundleActivator)
POCO_EXPORT_CLASS(hil::targets::TargetsBundleActivator)
POCO_END_MANIFEST
