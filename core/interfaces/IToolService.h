// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <boost/json/object.hpp>
#include <boost/signals2/signal.hpp>

#include "core/interfaces/IService.h"
#include "core/interfaces/IToolContext.h"
#include "platform/common/Status.h"

namespace hil {

/// One attached tool as seen through one attached connection.
struct ConnectionInfo {
    /// The class name of the tool factory that accepts the connection.
    std::string toolType;
    /// The connection type identifier; empty for a simulator.
    std::string connectionType;
    /// The connection's "SerialNumber"; takes no part in equality.
    std::string serialNumber;
    boost::json::object connectionProperties;

    /// Equal tool type, connection type, and the same property pairs in the same order.
    bool operator==(const ConnectionInfo& other) const;
};

/// The Tool service: tool types, attached tools, and the tool contexts it sets up.
class IToolService : public IServiceBase {
public:
    using AttachedToolsSignal = boost::signals2::signal<void(const std::vector<ConnectionInfo>&)>;

    /// The class names of the registered tool factories.
    virtual std::vector<std::string> getSupportedToolTypes() = 0;
    /// A registered tool over a new connection of `connectionType` (none when empty), or null.
    virtual std::shared_ptr<IToolContext> setupTool(Status& status, const std::string& toolType,
                                                    const std::string& connectionType,
                                                    const boost::json::object& connectionProperties) = 0;
    /// Closes the tool's open dependents, disconnects it and unregisters it.
    virtual void tearDownTool(std::shared_ptr<IToolContext> tool) = 0;
    /// The simulators, then every attached connection some tool factory accepts.
    virtual std::vector<ConnectionInfo> getAttachedTools(Status& status, const std::string& type) = 0;
    virtual void startPollingForTools(bool on) = 0;
    /// The slot hears each change of the attached tools, on the polling thread.
    virtual boost::signals2::connection addAttachedToolsListChangedHandler(const AttachedToolsSignal::slot_type& slot) const = 0;
};

} // namespace hil
