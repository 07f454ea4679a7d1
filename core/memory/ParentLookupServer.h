// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "core/frame/CommandServerBase.h"

namespace hil {

/// The frame of the command servers whose contexts hang below a parent object of the host's
/// parent lookup (a device above its memories and registers).
///
/// "getChildren" asks the parent lookup first and answers with the ids of the parent's own list,
/// in the parent's order; an id the lookup does not know gets the generic answer from the
/// service's registry.
class ParentLookupServer : public CommandServerBase {
public:
    using CommandServerBase::CommandServerBase;

protected:
    void handleGetChildren(const CommandArguments& arguments, tcf::IIntermediateResult& progress,
                           Results& results) override;

    /// The ids of this server's kind of context below `parent`, in the parent's order.
    virtual std::vector<std::string> childIdsOf(const IMemoryRegistersParent& parent) const = 0;

    /// The context registered under `id` as a `Context`. Throws the "Invalid context %s," status
    /// (code 16) for an unknown or empty id, or one of another kind.
    template <class Context>
    std::shared_ptr<Context> requireContext(const std::string& id) const
    {
        auto context = std::dynamic_pointer_cast<Context>(getContextOrThrow(id));
        if (!context)
            throwInvalidContext(id);
        return context;
    }

    /// The ids of `contexts`, in order.
    template <class List>
    static std::vector<std::string> idsOf(const List& contexts)
    {
        std::vector<std::string> ids;
        for (const auto& context : contexts)
            ids.push_back(context->getId());
        return ids;
    }
};

} // namespace hil
