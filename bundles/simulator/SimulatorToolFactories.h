// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>

#include "core/interfaces/ToolFactory.h"

namespace hil::simulator {

/// The tool type of the probe-less simulator.
inline const std::string kSimulatorToolType = "com.velmora.hil.simulator";
/// The tool type of probes on virtual connections.
inline const std::string kVirtualProbeToolType = "com.velmora.hil.virtualprobe";

/// Makes `SimulatedTool`s with ids "PREFIX-N", N counting from 1 per factory.
class SimulatedToolFactory : public ToolFactory {
public:
    SimulatedToolFactory(std::string className, std::string toolName);

    std::string getCategory() const override { return kToolFactoryCategory; }
    std::string getClassName() const override { return className_; }
    std::string getToolName() const override { return toolName_; }

protected:
    std::shared_ptr<IToolContext> makeTool(IOrixDebugger& debugger, std::shared_ptr<IConnection> connection);

private:
    const std::string className_;
    const std::string toolName_;
    std::atomic<unsigned> created_{0};
};

/// The simulator: needs no connection, so it is always listed as attached ("simulator" tool name).
class SimulatorToolFactory : public SimulatedToolFactory {
public:
    SimulatorToolFactory();
    bool acceptsConnection(std::shared_ptr<IConnection>) override { return false; }
    /// Any connection given is ignored: the simulator talks to no probe.
    std::shared_ptr<IToolContext> createTool(IOrixDebugger& debugger, std::shared_ptr<IContextBase>, const std::string&,
                                             std::shared_ptr<IConnection>) override;
};

/// A probe behind a virtual connection; declines to make a tool without one.
class VirtualProbeToolFactory : public SimulatedToolFactory {
public:
    VirtualProbeToolFactory();
    bool acceptsConnection(std::shared_ptr<IConnection> connection) override;
    std::shared_ptr<IToolContext> createTool(IOrixDebugger& debugger, std::shared_ptr<IContextBase>, const std::string&,
                                             std::shared_ptr<IConnection> connection) override;
};

} // namespace hil::simulator
