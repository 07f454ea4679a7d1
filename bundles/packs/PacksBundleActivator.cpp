// SPDX-License-Identifier: Apache-2.0
// The "Packs" bundle: registers the TCF service of that name.

#include <Poco/ClassLibrary.h>

#include "bundles/packs/PacksCommandServer.h"
#include "core/frame/TcfServiceFactory.h"
#include "core/interfaces/BundleFactories.h"
#include "platform/osp/BundleActivator.h"

namespace hil::packs {

class PacksBundleActivator : public osp::BundleActivator {
public:
    void start(osp::BundleContext::Ptr context) override
    {
        BundleFactories(context).publish(
            std::make_shared<TcfServiceFactory<PacksService, PacksCommandServer>>("Packs"));
    }
    void stop(osp::BundleContext::Ptr) override {}
};

} // namespace hil::packs

POCO_BEGIN_MANIFEST(hil::osp::BundleActivator)
POCO_EXPORT_CLASS(hil::packs::PacksBundleActivator)
POCO_END_MANIFEST
