// SPDX-License-Identifier: Apache-2.0
// A bundle of someone else's: it reads a preference through the core's class factory manager and
// says what it found, so that a test can tell it was built, loaded and started.

#include <Poco/ClassLibrary.h>

#include "core/frame/OspClassFactoryManager.h"
#include "platform/common/BackendLogger.h"
#include "platform/osp/BundleActivator.h"

class ThirdPartyActivator : public hil::osp::BundleActivator {
public:
    void start(hil::osp::BundleContext::Ptr context) override
    {
        hil::OspClassFactoryManager manager(context);
        hil::BackendLogger::errorUnfiltered("thirdparty", "started; devices in " + manager.getPreference("application.dir"));
    }
    void stop(hil::osp::BundleContext::Ptr) override {}
};

POCO_BEGIN_MANIFEST(hil::osp::BundleActivator)
POCO_EXPORT_CLASS(ThirdPartyActivator)
POCO_END_MANIFEST
