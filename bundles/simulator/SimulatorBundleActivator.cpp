// SPDX-License-Identifier: Apache-2.0
// The simulator bundle: a probe-less tool, virtual probes that are plugged in and pulled out
// through files in a directory (preference "simulator.probedir"), and simulated stimuli.

#include <Poco/ClassLibrary.h>

#include "bundles/simulator/SimulatedStimuli.h"
#include "bundles/simulator/SimulatorToolFactories.h"
#include "bundles/simulator/VirtualProbes.h"
#include "core/interfaces/BundleFactories.h"
#include "platform/osp/BundleActivator.h"

namespace hil::simulator {

/// The preference naming the directory of virtual probe files.
inline const std::string kProbeDirectoryPreference = "simulator.probedir";

class SimulatorBundleActivator : public osp::BundleActivator {
public:
    void start(osp::BundleContext::Ptr context) override
    {
        BundleFactories factories(context);
        factories.publish(std::make_shared<SimulatorToolFactory>());
        factories.publish(std::make_shared<VirtualProbeToolFactory>());
        factories.publish(std::make_shared<SimulatedStimuliProviderFactory>());
        factories.publish(
            std::make_shared<VirtualConnectionFactory>(factories.preference(kProbeDirectoryPreference)));
    }
    void stop(osp::BundleContext::Ptr) override {}
};

} // namespace hil::simulator

POCO_BEGIN_MANIFEST(hil::osp::BundleActivator)
POCO_EXPORT_CLASS(hil::simulator::SimulatorBundleActivator)
POCO_END_MANIFEST
