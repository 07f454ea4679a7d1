// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frame/ServiceBase.h"
#include "core/interfaces/ConnectionFactory.h"
#include "core/interfaces/IToolService.h"
#include "core/interfaces/ToolFactory.h"
#include "core/tools/ConnectionsUpdater.h"

namespace hil {

/// The Tool service. Tool and connection factories come from other bundles through the debugger's
/// class factory manager; the tool contexts they make live in this service's registry.
class ToolService : public ServiceBase<IToolService> {
public:
    explicit ToolService(IOrixDebugger& debugger);
    /// Stops polling and waits for the polling thread.
    ~ToolService() override;

    std::vector<std::string> getSupportedToolTypes() override;
    /// Failures set `status` and are logged; a tool type no factory makes leaves it untouched.
    std::shared_ptr<IToolContext> setupTool(Status& status, const std::string& toolType, const std::string& connectionType,
                                            const boost::json::object& connectionProperties) override;
    void tearDownTool(std::shared_ptr<IToolContext> tool) override;
    /// Throws `CoreException` (0x2001F) when a connection's "SerialNumber" is not text.
    std::vector<ConnectionInfo> getAttachedTools(Status& status, const std::string& type) override;
    void startPollingForTools(bool on) override;
    boost::signals2::connection addAttachedToolsListChangedHandler(const AttachedToolsSignal::slot_type& slot) const override;

    /// Tears down a tool of a client that went away; never throws.
    void cleanupContext(const ContextPtr& context) override;

    /// The text value of `key`, `fallback` when absent; throws `CoreException` (0x2001F) when
    /// the value is of another kind.
    static std::string getStringProperty(const boost::json::object& object, const std::string& key,
                                         const std::string& fallback);

private:
    std::vector<std::shared_ptr<ToolFactory>> getToolFactories();
    std::vector<std::shared_ptr<ConnectionFactory>> getConnectionFactories();
    void onConnectionsUpdated(const std::vector<ConnectionInfo>& connections);
    /// Sets the status, logs it, and returns the null tool.
    std::shared_ptr<IToolContext> fail(Status& status, ErrorCode code, const std::string& message);

    ConnectionsUpdater connectionsUpdater_;
    mutable AttachedToolsSignal attachedToolsListChanged_;
};

} // namespace hil
