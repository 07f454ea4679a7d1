// SPDX-License-Identifier: Apache-2.0
// The debugging bundle: the TCF services "RunControl", "Breakpoints" and "StackTrace" for every
// target whose driver offers run control.

#include <Poco/ClassLibrary.h>

#include "bundles/debugging/DebugServices.h"
#include "core/frame/TcfServiceFactory.h"
#include "core/interfaces/BundleFactories.h"
#include "platform/osp/BundleActivator.h"

namespace hil::debugging {

class DebuggingBundleActivator : public osp::BundleActivator {
public:
    void start(osp::BundleContext::Ptr context) override
    {
        BundleFactories factories(context);
        factories.publish(std::make_shared<TcfServiceFactory<RunControlService, RunControlServer>>("RunControl"));
        factories.publish(std::make_shared<TcfServiceFactory<BreakpointsService, BreakpointsServer>>("Breakpoints"));
        factories.publish(std::make_shared<TcfServiceFactory<StackTraceService, StackTraceServer>>("StackTrace"));
    }
    void stop(osp::BundleContext::Ptr) override {}
};

} // namespace hil::debugging

POCO_BEGIN_MANIFEST(hil::osp::BundleActivator)
POCO_EXPORT_CLASS(hil::debugging::DebuggingBundleActivator)
POCO_END_MANIFEST
