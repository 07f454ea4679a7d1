// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "core/frame/ServiceBase.h"
#include "core/interfaces/IToolService.h"

namespace hil::targets {

/// The preference naming the file the kept targets are saved to, and set up again from when the
/// back-end starts; without it they last until it stops.
inline const std::string kTargetsFilePreference = "targets.file";

/// What a kept target is made of, as "add" takes it and the file keeps it.
struct TargetDefinition {
    std::string name;
    std::string toolType;
    std::string connectionType;
    boost::json::object connectionProperties;
    /// Set on the tool before it connects ("DeviceName", "ResetCommand", ...).
    boost::json::object toolProperties;

    boost::json::object toJson() const;
    /// Throws `UsageError` for a member of the wrong kind or a name that is not one.
    static TargetDefinition fromJson(const boost::json::object& object);
};

/// Targets the back-end keeps: tools it sets up and connects on behalf of no client, so that they
/// outlive the connection that asked for them, under names their users choose. A client's tools
/// go with the client; these go when removed, or with the back-end.
class TargetsService : public ServiceBase<IServiceBase> {
public:
    /// Sets up again, on a thread of its own, the targets saved in the preference's file; those
    /// that fail are logged and left out.
    explicit TargetsService(IOrixDebugger& debugger);
    /// Tears the kept tools down.
    ~TargetsService() override;

    /// Sets up and connects a tool for `definition` and keeps it; its entry (see `list`). Nothing is
    /// kept when it fails: `UsageError` for a name that is taken or malformed, `NotFoundError`
    /// when no tool of the type takes the connection, the tool's own error when it does not
    /// connect.
    boost::json::object add(const TargetDefinition& definition);
    /// Tears the target's tool down and forgets it; `NotFoundError` for an unknown name.
    void remove(const std::string& name);
    /// [{Name, ToolID, DeviceID, State, ToolType, ConnectionType, ConnectionProperties,
    /// ToolProperties}] by name; "State" is the tool's ("Ready" when connected), or "Gone" when
    /// something else tore it down.
    boost::json::array list() const;

private:
    struct Kept {
        TargetDefinition definition;
        std::shared_ptr<IToolContext> tool;
    };

    void restoreSaved();
    bool servicesReady() const;
    std::shared_ptr<IToolService> tools() const;
    boost::json::object entryOf(const Kept& kept) const;
    void addLocked(const TargetDefinition& definition);
    void saveLocked() const;
    /// The lock, once the saved targets are back.
    std::unique_lock<std::mutex> lockRestored() const;

    mutable std::mutex mutex_;
    /// While the saved targets are set up again, every command waits for them.
    mutable std::condition_variable restored_;
    bool restoring_ = false;
    std::map<std::string, Kept> kept_;
    std::string file_;
    std::thread restorer_;
};

} // namespace hil::targets
