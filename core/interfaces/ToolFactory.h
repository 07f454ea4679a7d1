// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "core/interfaces/IAdClassFactory.h"
#include "core/interfaces/IConnection.h"
#include "core/interfaces/IToolContext.h"

namespace hil {

class IOrixDebugger;

/// Category under which tool factories register.
inline const std::string kToolFactoryCategory = "toolfactory";

/// Makes the tool contexts of one tool type; the class name is the tool type.
class ToolFactory : public IAdClassFactory {
public:
    /// A short name of the tool; "simulator" marks a tool that needs no connection.
    virtual std::string getToolName() const = 0;
    /// True when this factory can drive the tool behind `connection`.
    virtual bool acceptsConnection(std::shared_ptr<IConnection> connection) = 0;
    /// A new tool context, or null when the factory declines. `parent` is always empty;
    /// `connection` is null for a tool without connection.
    virtual std::shared_ptr<IToolContext> createTool(IOrixDebugger& debugger, std::shared_ptr<IContextBase> parent,
                                                     const std::string& toolType,
                                                     std::shared_ptr<IConnection> connection) = 0;
};

} // namespace hil
