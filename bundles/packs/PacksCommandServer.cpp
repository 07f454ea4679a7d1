// SPDX-License-Identifier: Apache-2.0
#include "bundles/packs/PacksCommandServer.h"

#include <stdexcept>

#include <boost/json.hpp>

#include "core/frame/ErrorDescr.h"
#include "platform/common/JsonText.h"

namespace hil::packs {

PacksCommandServer::PacksCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    // Every command replies the empty error, then its one value.
    const auto command = [this](const std::string& name, std::size_t minimum, std::size_t maximum,
                                std::function<boost::json::value(const CommandArguments&)> answer) {
        addCommand(name, [this, name, minimum, maximum, answer](const CommandArguments& arguments,
                                                                tcf::IIntermediateResult&, Results& results) {
            if (arguments.count() < minimum || arguments.count() > maximum)
                throwInvalidNumberOfArguments(name, arguments);
            const auto value = answer(arguments);
            results.push_back(emptyError());
            results.push_back(jsonText(value));
        });
    };
    command("list", 0, 1, [this](const CommandArguments& a) { return service()->list(a.count() ? a.string(0) : ""); });
    command("show", 1, 1, [this](const CommandArguments& a) { return service()->show(a.string(0)); });
    command("peripherals", 1, 1, [this](const CommandArguments& a) { return service()->peripherals(a.string(0)); });
    command("registers", 2, 2, [this](const CommandArguments& a) { return service()->registers(a.string(0), a.string(1)); });
    command("rescan", 0, 0, [this](const CommandArguments&) { return service()->rescan(); });
    command("problems", 0, 0, [this](const CommandArguments&) { return service()->problems(); });
}

} // namespace hil::packs
