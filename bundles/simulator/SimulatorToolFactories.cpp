// SPDX-License-Identifier: Apache-2.0
#include "bundles/simulator/SimulatorToolFactories.h"

#include "bundles/simulator/SimulatedTool.h"
#include "bundles/simulator/VirtualProbes.h"

namespace hil::simulator {

SimulatedToolFactory::SimulatedToolFactory(std::string className, std::string toolName)
    : className_(std::move(className)), toolName_(std::move(toolName))
{
}

std::shared_ptr<IToolContext> SimulatedToolFactory::makeTool(IOrixDebugger& debugger, std::shared_ptr<IConnection> connection)
{
    const std::string id = toolName_ + "-" + std::to_string(++created_);
    return std::make_shared<SimulatedTool>(debugger, id, toolName_, className_, std::move(connection));
}

SimulatorToolFactory::SimulatorToolFactory() : SimulatedToolFactory(kSimulatorToolType, "simulator") {}

std::shared_ptr<IToolContext> SimulatorToolFactory::createTool(IOrixDebugger& debugger, std::shared_ptr<IContextBase>,
                                                               const std::string&, std::shared_ptr<IConnection>)
{
    return makeTool(debugger, nullptr);
}

VirtualProbeToolFactory::VirtualProbeToolFactory() : SimulatedToolFactory(kVirtualProbeToolType, "virtualprobe") {}

bool VirtualProbeToolFactory::acceptsConnection(std::shared_ptr<IConnection> connection)
{
    return connection && connection->getConnectionType() == kVirtualConnectionType;
}

std::shared_ptr<IToolContext> VirtualProbeToolFactory::createTool(IOrixDebugger& debugger, std::shared_ptr<IContextBase>,
                                                                  const std::string&,
                                                                  std::shared_ptr<IConnection> connection)
{
    return acceptsConnection(connection) ? makeTool(debugger, std::move(connection)) : nullptr;
}

} // namespace hil::simulator
