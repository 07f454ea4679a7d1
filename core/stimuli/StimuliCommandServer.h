// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frame/CommandServerFor.h"
#include "core/interfaces/IStimuliService.h"

namespace hil {

/// The TCF face of the Stimuli service: "getStimuliTypes", "setDesignator", and
/// "addStimuliProvider", which is accepted with any arguments and does nothing (providers are
/// set up by other bundles through the service). It has no generic commands and sends no
/// context events.
class StimuliCommandServer : public CommandServerFor<IStimuliService> {
public:
    /// `service` must be an `IStimuliService`; throws `std::invalid_argument` otherwise.
    StimuliCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);

    static std::string getServiceName() { return "Stimuli"; }

private:
    void dispatchGetSupportedStimuliTypes(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void dispatchSetDesignator(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);

};

} // namespace hil
