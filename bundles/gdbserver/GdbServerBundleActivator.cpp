// SPDX-License-Identifier: Apache-2.0
// The GDB server bundle: gdb and the IDEs that drive it debug the back-end's targets, sharing each
// target with the TCF clients.

#include <Poco/ClassLibrary.h>

#include "bundles/gdbserver/GdbServerService.h"
#include "core/frame/TcfServiceFactory.h"
#include "core/interfaces/BundleFactories.h"
#include "platform/osp/BundleActivator.h"

namespace hil::gdbserver {

class GdbServerBundleActivator : public osp::BundleActivator {
public:
    void start(osp::BundleContext::Ptr context) override
    {
        BundleFactories(context).publish(
            std::make_shared<TcfServiceFactory<GdbServerService, GdbServerCommandServer>>("GdbServer"));
    }
    void stop(osp::BundleContext::Ptr) override {}
};

} // namespace hil::gdbserver

POCO_BEGIN_MANIFEST(hil::osp::BundleActivator)
POCO_EXPORT_CLASS(hil::gdbserver::GdbServerBundleActivator)
POCO_END_MANIFEST
