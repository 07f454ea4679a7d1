// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "bundles/targets/TargetsService.h"
#include "core/frame/CommandServerFor.h"

namespace hil::targets {

/// The "Targets" commands, each replying an error slot and one JSON value:
///   "add" (DEFINITION)     sets up and connects a target the back-end keeps; DEFINITION is {Name, ToolType,
///                    ConnectionType, ConnectionProperties, ToolProperties}; its entry
///   "remove" (NAME)  tears it down; null
///   "list" ()        the kept targets
class TargetsCommandServer : public CommandServerFor<TargetsService> {
public:
    TargetsCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);
};

} // namespace hil::targets
