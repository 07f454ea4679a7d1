// SPDX-License-Identifier: Apache-2.0
#include "core/memory/ParentLookupServer.h"

#include <boost/json.hpp>

#include "core/frame/ErrorDescr.h"
#include "platform/common/JsonText.h"

namespace hil {

void ParentLookupServer::handleGetChildren(const CommandArguments& arguments, tcf::IIntermediateResult& progress,
                                           Results& results)
{
    arguments.requireCount(1);
    const std::string parentId = arguments.string(0);
    const auto parent = debugger_.getParentLookup().findParent(parentId);
    if (!parent) {
        CommandServerBase::handleGetChildren(arguments, progress, results);
        return;
    }
    boost::json::array ids;
    for (const auto& id : childIdsOf(*parent))
        ids.emplace_back(id);
    results.push_back(ErrorDescr().toJson());
    results.push_back(jsonText(ids));
}

} // namespace hil
