// SPDX-License-Identifier: Apache-2.0
// A bundle of someone else's: it reads a preference through the core's `BundleFactories` and
// says what it found, so that a test can tell it was built, loaded and started.

#include <Poco/ClassLibrary.h>

#include "core/interfaces/BundleFactories.h"
#include "platform/common/BackendLogger.h"
#include "platform/osp/BundleActivator.h"

class ThirdPartyActivator : public hil::osp::BundleActivator {
public:
    void start(hil::osp::BundleContext::Ptr context) override
    {
        const hil::BundleFactories factories(context);
        hil::BackendLogger::errorUnfiltered("thirdparty", "started; devices in " + factories.preference("application.dir"));
    }
    void stop(hil::osp::BundleContext::Ptr) override {}
};

POCO_BEGIN_MANIFEST(hil::osp::BundleActivator)
POCO_EXPORT_CLASS(ThirdPartyActivator)
POCO_END_MANIFEST
