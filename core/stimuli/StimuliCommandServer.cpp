// SPDX-License-Identifier: Apache-2.0
#include "core/stimuli/StimuliCommandServer.h"
#include "platform/common/JsonText.h"

#include <stdexcept>

#include <boost/json.hpp>

namespace hil {

StimuliCommandServer::StimuliCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    removeCommand("getContext");
    removeCommand("getChildren");
    addCommand("getStimuliTypes", &StimuliCommandServer::dispatchGetSupportedStimuliTypes);
    addCommand("setDesignator", &StimuliCommandServer::dispatchSetDesignator);
    addCommand("addStimuliProvider", [](const CommandArguments&, tcf::IIntermediateResult&, Results&) {});
}

void StimuliCommandServer::dispatchGetSupportedStimuliTypes(const CommandArguments& arguments,
                                                            tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(0);
    boost::json::array types;
    for (const auto& type : service()->getSupportedStimuliTypes())
        types.emplace_back(type);
    results.push_back(emptyError());
    results.push_back(jsonText(types));
}

void StimuliCommandServer::dispatchSetDesignator(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                                 Results& results)
{
    arguments.requireCount(2);
    const std::string deviceId = arguments.string(0);
    const std::string designator = arguments.string(1);
    service()->setDesignator(deviceId, designator);
    results.push_back(emptyError());
}

} // namespace hil
