// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frame/CommandServerFor.h"
#include "core/interfaces/IToolService.h"

namespace hil {

/// The TCF face of the Tool service: tool types, attached tools, tool set-up and tear-down, and
/// the probe operations. Sends "attachedToolsChanged" (from the polling thread), "connectionLost",
/// and "contextAdded" before the reply of a successful "setupTool". It does not listen to the
/// registry, so tear-down sends no "contextRemoved".
class ToolCommandServer : public CommandServerFor<IToolService> {
public:
    /// `service` must be an `IToolService`; throws `std::invalid_argument` otherwise.
    ToolCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);

    static std::string getServiceName() { return "Tool"; }

    /// One JSON object per record: "ToolType", "ConnectionType", "ConnectionProperties".
    static boost::json::array attachedToolsToJson(const std::vector<ConnectionInfo>& tools);

protected:
    void registerContextSignalHandlers(const ContextPtr& context) override;

private:
    using ToolOperation = void (IToolContext::*)(Status&);

    /// Adds a command that takes a tool id, runs one status-only operation and replies the status.
    void addStatusCommand(const std::string& name, ToolOperation operation);
    std::shared_ptr<IToolContext> getToolContextOrThrow(const std::string& id) const;
    void onAttachedToolsUpdated(const std::vector<ConnectionInfo>& tools) const;
    void onToolConnectionLost(const std::string& reason) const;

    void handleGetSupportedToolTypes(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleSetupTool(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleTearDownTool(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleGetAttachedTools(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleSetProperties(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleDetectDevices(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleStartUpgrade(const CommandArguments& arguments, tcf::IIntermediateResult& progress, Results& results);
    void handleCancel(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handlePollForTools(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleGetTargetVoltage(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleSelfTest(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleCalibrate(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleCmd(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleGenericStringCommand(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleSpecialOperation(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);

};

} // namespace hil
