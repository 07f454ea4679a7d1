// SPDX-License-Identifier: Apache-2.0
#include "bundles/targets/TargetsCommandServer.h"

#include <boost/json.hpp>

namespace hil::targets {

TargetsCommandServer::TargetsCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    addValueCommand("add", 1, 1, [this](const CommandArguments& a) {
        return service()->add(TargetDefinition::fromJson(a.object(0)));
    });
    addValueCommand("remove", 1, 1, [this](const CommandArguments& a) {
        service()->remove(a.string(0));
        return boost::json::value(nullptr);
    });
    addValueCommand("list", 0, 0, [this](const CommandArguments&) { return service()->list(); });
}

} // namespace hil::targets
