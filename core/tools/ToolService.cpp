// SPDX-License-Identifier: Apache-2.0
#include "core/tools/ToolService.h"

#include "core/interfaces/IAdClassFactoryManager.h"
#include "core/interfaces/PropertyKeys.h"
#include "platform/common/CoreException.h"

namespace hil {

namespace {

/// The factories of `category` that are of kind `Factory`, in the manager's order.
template <class Factory>
std::vector<std::shared_ptr<Factory>> factoriesOfKind(IOrixDebugger& debugger, const std::string& category)
{
    std::vector<std::shared_ptr<Factory>> found;
    const auto manager = debugger.getClassFactoryManager();
    if (!manager)
        return found;
    for (const auto& factory : manager->getFactories(category))
        if (auto typed = std::dynamic_pointer_cast<Factory>(factory))
            found.push_back(std::move(typed));
    return found;
}

/// The factory registered as `className` when it is of kind `Factory`, else null. A declared
/// factory whose bundle did not start has no registry entry: the manager's
/// `Poco::NullPointerException` goes on to the caller, failing the set-up rather than passing for
/// "no factory wanted it".
template <class Factory>
std::shared_ptr<Factory> factoryNamed(IAdClassFactoryManager& manager, const std::string& className)
{
    return std::dynamic_pointer_cast<Factory>(manager.getFactory(className));
}

} // namespace

bool ConnectionInfo::operator==(const ConnectionInfo& other) const
{
    if (toolType != other.toolType || connectionType != other.connectionType ||
        connectionProperties.size() != other.connectionProperties.size())
        return false;
    // Position by position: the same pairs in another order are a change.
    return std::equal(connectionProperties.begin(), connectionProperties.end(), other.connectionProperties.begin(),
                      [](const auto& a, const auto& b) { return a.key() == b.key() && a.value() == b.value(); });
}

ToolService::ToolService(IOrixDebugger& debugger) : ServiceBase(debugger, "Tool"), connectionsUpdater_(this)
{
    connectionsUpdater_.addConnectionsUpdatedSlot(
        [this](const std::vector<ConnectionInfo>& connections) { onConnectionsUpdated(connections); });
}

ToolService::~ToolService() { connectionsUpdater_.stopUpdatingConnections(); }

std::vector<std::string> ToolService::getSupportedToolTypes()
{
    const auto manager = debugger_.getClassFactoryManager();
    return manager ? manager->getClassNames(kToolFactoryCategory) : std::vector<std::string>{};
}

std::shared_ptr<IToolContext> ToolService::fail(Status& status, ErrorCode code, const std::string& message)
{
    status.setFields(Severity::Error, code, "%s", message.c_str());
    BackendLogger::error("", status.getMessage());
    return nullptr;
}

std::shared_ptr<IToolContext> ToolService::setupTool(Status& status, const std::string& toolType,
                                                     const std::string& connectionType,
                                                     const boost::json::object& connectionProperties)
{
    const auto manager = debugger_.getClassFactoryManager();
    if (!manager)
        return fail(status, ErrorCode::BadConfiguration,
                    "Failed to get the factory manager when creating tool " + toolType + " with connection " +
                        connectionType);
    std::shared_ptr<IConnection> connection;
    if (!connectionType.empty()) {
        for (const auto& className : manager->getClassNames(kConnectionFactoryCategory)) {
            if (className != connectionType)
                continue;
            const auto factory = factoryNamed<ConnectionFactory>(*manager, className);
            if (!factory)
                continue;
            connection = factory->createConnection(connectionProperties);
            if (!connection)
                return fail(status, ErrorCode::NotFound,
                            "Failed to create the connection " + connectionType + " with the given props.");
            break;
        }
        if (!connection)
            return fail(status, ErrorCode::NotFound, "Could not find a factory to create the connection " + connectionType);
    }
    for (const auto& className : manager->getClassNames(kToolFactoryCategory)) {
        if (className != toolType)
            continue;
        const auto factory = factoryNamed<ToolFactory>(*manager, className);
        if (!factory)
            continue;
        if (auto tool = factory->createTool(debugger_, nullptr, toolType, connection)) {
            addContext(tool);
            return tool;
        }
    }
    return nullptr;
}

void ToolService::tearDownTool(std::shared_ptr<IToolContext> tool)
{
    if (!tool)
        return;
    Status status;
    for (const auto& dependent : tool->getDependents())
        if (dependent && dependent->isOpen())
            dependent->close();
    tool->disconnect(status);
    removeContext(tool);
}

std::string ToolService::getStringProperty(const boost::json::object& object, const std::string& key,
                                           const std::string& fallback)
{
    const auto* value = object.if_contains(key);
    if (!value)
        return fallback;
    if (!value->is_string())
        CoreException::createAndThrow("", ErrorCode::BadConfiguration, "Property %s is not of expected type", key.c_str());
    return std::string(value->get_string());
}

std::vector<ConnectionInfo> ToolService::getAttachedTools(Status&, const std::string&)
{
    const auto toolFactories = getToolFactories();
    const auto connectionFactories = getConnectionFactories();
    std::vector<ConnectionInfo> attached;
    for (const auto& factory : toolFactories)
        if (factory->getToolName() == "simulator")
            attached.push_back({factory->getClassName(), "", "", {}});
    for (const auto& connectionFactory : connectionFactories) {
        for (const auto& connection : connectionFactory->getAttachedConnections()) {
            ConnectionInfo record{"", connection->getConnectionType(), "", connection->getConnectionProperties()};
            for (const auto& toolFactory : toolFactories) {
                if (!toolFactory->acceptsConnection(connection))
                    continue;
                record.toolType = toolFactory->getClassName();
                if (record.toolType.empty()) {
                    BackendLogger::info("toolService", "Got empty class name from toolFactory! " + toolFactory->getToolName());
                    continue;
                }
                record.serialNumber = getStringProperty(record.connectionProperties, keys::ConnectionKey::SerialNumber, "");
                attached.push_back(std::move(record));
                break;
            }
        }
    }
    return attached;
}

void ToolService::startPollingForTools(bool on)
{
    if (on)
        connectionsUpdater_.startUpdatingConnections();
    else
        connectionsUpdater_.stopUpdatingConnections();
}

boost::signals2::connection ToolService::addAttachedToolsListChangedHandler(const AttachedToolsSignal::slot_type& slot) const
{
    return attachedToolsListChanged_.connect(slot);
}

void ToolService::onConnectionsUpdated(const std::vector<ConnectionInfo>& connections)
{
    attachedToolsListChanged_(connections);
}

void ToolService::cleanupContext(const ContextPtr& context)
{
    if (!context)
        return;
    const std::string id = context->getId();
    if (BackendLogger::debugOn("svc"))
        BackendLogger::debug("svc", "Disconnecting tool " + id + " refcount " + std::to_string(context.use_count()));
    try {
        if (auto tool = std::dynamic_pointer_cast<IToolContext>(context))
            tearDownTool(std::move(tool));
    } catch (const std::exception& error) {
        BackendLogger::error("svc", "Error during cleanup of " + id + " : " + error.what());
    } catch (...) {
        BackendLogger::error("svc", "Unknown error during cleanup of " + id);
    }
}

std::vector<std::shared_ptr<ToolFactory>> ToolService::getToolFactories()
{
    return factoriesOfKind<ToolFactory>(debugger_, kToolFactoryCategory);
}

std::vector<std::shared_ptr<ConnectionFactory>> ToolService::getConnectionFactories()
{
    return factoriesOfKind<ConnectionFactory>(debugger_, kConnectionFactoryCategory);
}

} // namespace hil
