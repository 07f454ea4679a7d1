// SPDX-License-Identifier: Apache-2.0
#include "bundles/packs/PacksCommandServer.h"

#include <boost/json.hpp>

namespace hil::packs {

PacksCommandServer::PacksCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    addValueCommand("list", 0, 1, [this](const CommandArguments& a) { return service()->list(a.count() ? a.string(0) : ""); });
    addValueCommand("show", 1, 1, [this](const CommandArguments& a) { return service()->show(a.string(0)); });
    addValueCommand("peripherals", 1, 1, [this](const CommandArguments& a) { return service()->peripherals(a.string(0)); });
    addValueCommand("registers", 2, 2, [this](const CommandArguments& a) { return service()->registers(a.string(0), a.string(1)); });
    addValueCommand("rescan", 0, 0, [this](const CommandArguments&) { return service()->rescan(); });
    addValueCommand("problems", 0, 0, [this](const CommandArguments&) { return service()->problems(); });
}

} // namespace hil::packs
