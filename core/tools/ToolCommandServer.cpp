// SPDX-License-Identifier: Apache-2.0
#include "core/tools/ToolCommandServer.h"

#include <cmath>
#include <stdexcept>

#include <boost/json.hpp>

#include "core/frame/ErrorDescr.h"
#include "platform/common/Base64.h"
#include "platform/common/JsonText.h"
#include "platform/tcf/Protocol.h"

namespace hil {

namespace {

/// Commands of the form (id, ...) need at least this many arguments.
void requireAtLeast(const CommandArguments& arguments, std::size_t minimum)
{
    if (arguments.count() < minimum)
        throwArgumentError();
}

constexpr int kDefaultCommandTimeoutMs = 1000;

} // namespace

ToolCommandServer::ToolCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    addCommand("getSupportedToolTypes", &ToolCommandServer::handleGetSupportedToolTypes);
    addCommand("setupTool", &ToolCommandServer::handleSetupTool);
    addCommand("tearDownTool", &ToolCommandServer::handleTearDownTool);
    addCommand("getAttachedTools", &ToolCommandServer::handleGetAttachedTools);
    addCommand("setProperties", &ToolCommandServer::handleSetProperties);
    addStatusCommand("connect", &IToolContext::connect);
    addStatusCommand("disconnect", &IToolContext::disconnect);
    addStatusCommand("checkFirmware", &IToolContext::checkFirmware);
    addStatusCommand("setBootMode", &IToolContext::setBootMode);
    addCommand("detectDevices", &ToolCommandServer::handleDetectDevices);
    addCommand("startUpgrade", &ToolCommandServer::handleStartUpgrade);
    addCommand("cancel", &ToolCommandServer::handleCancel);
    addCommand("pollForTools", &ToolCommandServer::handlePollForTools);
    addCommand("getTargetVoltage", &ToolCommandServer::handleGetTargetVoltage);
    addCommand("selfTest", &ToolCommandServer::handleSelfTest);
    addCommand("calibrate", &ToolCommandServer::handleCalibrate);
    addCommand("cmd", &ToolCommandServer::handleCmd);
    addCommand("genericStringCommand", &ToolCommandServer::handleGenericStringCommand);
    addCommand("SpecialOperation", &ToolCommandServer::handleSpecialOperation);
    service()->addAttachedToolsListChangedHandler(tracked(IToolService::AttachedToolsSignal::slot_type(
        [this](const std::vector<ConnectionInfo>& tools) { onAttachedToolsUpdated(tools); })));
}

boost::json::array ToolCommandServer::attachedToolsToJson(const std::vector<ConnectionInfo>& tools)
{
    boost::json::array list;
    for (const auto& tool : tools)
        list.push_back(boost::json::object{{"ToolType", tool.toolType},
                                           {"ConnectionType", tool.connectionType},
                                           {"ConnectionProperties", tool.connectionProperties}});
    return list;
}

void ToolCommandServer::addStatusCommand(const std::string& name, ToolOperation operation)
{
    addCommand(name, [this, operation](const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results) {
        arguments.requireCount(1);
        const auto tool = getToolContextOrThrow(arguments.string(0));
        Status status;
        ((*tool).*operation)(status);
        results.push_back(status.toJson());
    });
}

std::shared_ptr<IToolContext> ToolCommandServer::getToolContextOrThrow(const std::string& id) const
{
    auto tool = std::dynamic_pointer_cast<IToolContext>(getContextOrThrow(id));
    if (!tool)
        throw ErrorDescr(ErrorDescrCode::InvalidArguments, serviceName(), "The given context ID is not a tool context.");
    return tool;
}

void ToolCommandServer::registerContextSignalHandlers(const ContextPtr& context)
{
    if (auto tool = std::dynamic_pointer_cast<IToolContext>(context))
        tool->addConnectionLostHandler(tracked(
            IToolContext::ConnectionLostSignal::slot_type([this](std::string reason) { onToolConnectionLost(reason); })));
}

void ToolCommandServer::onAttachedToolsUpdated(const std::vector<ConnectionInfo>& tools) const
{
    tcf::Protocol::sendEvent(serviceName(), "attachedToolsChanged", {jsonText(attachedToolsToJson(tools))});
}

void ToolCommandServer::onToolConnectionLost(const std::string& reason) const
{
    tcf::Protocol::sendEvent(serviceName(), "connectionLost", {jsonText(boost::json::array{reason})});
}

void ToolCommandServer::handleGetSupportedToolTypes(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                                    Results& results)
{
    arguments.requireCount(0);
    boost::json::array types;
    for (const auto& type : service()->getSupportedToolTypes())
        types.emplace_back(type);
    results.push_back(ErrorDescr().toJson());
    results.push_back(jsonText(types));
}

void ToolCommandServer::handleSetupTool(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(3);
    const std::string toolType = arguments.string(0);
    const std::string connectionType = arguments.string(1);
    const boost::json::object properties = arguments.object(2);
    Status status;
    const auto tool = service()->setupTool(status, toolType, connectionType, properties);
    results.push_back(status.toJson());
    if (!tool) {
        results.push_back("\"\"");
        return;
    }
    ContextList added{tool};
    onContextsAdded(added);
    results.push_back(jsonText(tool->getId()));
}

void ToolCommandServer::handleTearDownTool(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(1);
    service()->tearDownTool(getToolContextOrThrow(arguments.string(0)));
    results.push_back(ErrorDescr().toJson());
}

void ToolCommandServer::handleGetAttachedTools(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                               Results& results)
{
    arguments.requireCount(1);
    const std::string type = arguments.string(0);
    Status status;
    const auto tools = service()->getAttachedTools(status, type);
    results.push_back(status.toJson());
    results.push_back(jsonText(attachedToolsToJson(tools)));
}

void ToolCommandServer::handleSetProperties(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(2);
    const std::string id = arguments.string(0);
    const boost::json::object properties = arguments.object(1);
    const auto tool = getToolContextOrThrow(id);
    tool->setToolProperties(properties);
    sendContextChanged(tool);
    results.push_back(ErrorDescr().toJson());
}

void ToolCommandServer::handleDetectDevices(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(1);
    const auto tool = getToolContextOrThrow(arguments.string(0));
    Status status;
    boost::json::array devices;
    for (auto& device : tool->detectDevices(status))
        devices.emplace_back(std::move(device));
    results.push_back(status.toJson());
    results.push_back(jsonText(devices));
}

void ToolCommandServer::handleStartUpgrade(const CommandArguments& arguments, tcf::IIntermediateResult& progress,
                                           Results& results)
{
    requireAtLeast(arguments, 2);
    const std::string id = arguments.string(0);
    const bool force = arguments.boolean(1);
    const auto tool = getToolContextOrThrow(id);
    Status status;
    tool->startUpgrade(force, progress, status);
    results.push_back(status.toJson());
}

void ToolCommandServer::handleCancel(const CommandArguments&, tcf::IIntermediateResult&, Results&)
{
    throw ErrorDescr(ErrorDescrCode::InvalidArguments, serviceName(), "This function is not implemented");
}

void ToolCommandServer::handlePollForTools(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(1);
    service()->startPollingForTools(arguments.boolean(0));
    results.push_back(Status().toJson());
}

void ToolCommandServer::handleGetTargetVoltage(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                               Results& results)
{
    arguments.requireCount(1);
    const double volts = getToolContextOrThrow(arguments.string(0))->getTargetVoltage();
    results.push_back(Status().toJson());
    // Kept for compatibility (docs/protocol.md).
    results.push_back(std::isnan(volts) ? "NaN" : jsonText(volts));
}

void ToolCommandServer::handleSelfTest(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(1);
    const auto tool = getToolContextOrThrow(arguments.string(0));
    Status status;
    const auto report = tool->selfTest(status);
    results.push_back(status.toJson());
    results.push_back(jsonText(report));
}

void ToolCommandServer::handleCalibrate(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(1);
    const auto tool = getToolContextOrThrow(arguments.string(0));
    Status status;
    const bool calibrated = tool->calibrate(status);
    results.push_back(status.toJson());
    results.push_back(calibrated ? "true" : "false");
}

void ToolCommandServer::handleCmd(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    if (arguments.count() != 2 && arguments.count() != 3)
        throwArgumentError();
    const int timeoutMs = arguments.count() == 3 ? arguments.int32(2) : kDefaultCommandTimeoutMs;
    const std::string id = arguments.string(0);
    std::vector<std::uint8_t> request;
    // Text that is not Base64 would reach the probe as a different command: refuse it instead.
    // Kept for compatibility (docs/protocol.md).
    if (!base64_decode(arguments.stringUnchecked(1), request))
        throwArgumentError();
    const auto tool = getToolContextOrThrow(id);
    Status status;
    std::vector<std::uint8_t> response;
    tool->genericCommand(status, response, request, timeoutMs);
    results.push_back(jsonText(base64_encode(response)));
    results.push_back(status.toJson());
    results.push_back(emptyError());
}

void ToolCommandServer::handleGenericStringCommand(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                                   Results& results)
{
    requireAtLeast(arguments, 2);
    const std::string id = arguments.string(0);
    const std::string command = arguments.string(1);
    const auto tool = getToolContextOrThrow(id);
    Status status;
    std::string response;
    const bool answered = tool->genericStringCommand(status, response, command);
    results.push_back(status.toJson());
    if (answered)
        results.push_back(jsonText(response));
}

void ToolCommandServer::handleSpecialOperation(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                               Results& results)
{
    requireAtLeast(arguments, 3);
    const std::string id = arguments.string(0);
    const std::string operation = arguments.string(1);
    const boost::json::object parameters = arguments.object(2);
    const auto tool = getToolContextOrThrow(id);
    Status status;
    tool->specialOperation(status, operation, parameters);
    results.push_back(status.toJson());
    results.push_back(emptyError());
}

} // namespace hil
