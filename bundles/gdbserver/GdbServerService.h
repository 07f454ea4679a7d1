// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <boost/json/array.hpp>
#include <boost/signals2/connection.hpp>

#include "bundles/gdbserver/GdbServer.h"
#include "core/frame/CommandServerFor.h"
#include "core/interfaces/IService.h"
#include "core/interfaces/IToolContext.h"

namespace hil::gdbserver {

/// The preference giving every target with run control a GDB server: the first port to try.
inline const std::string kFirstPortPreference = "gdbserver.firstPort";
/// The preference naming the address GDB servers listen on (default 127.0.0.1).
inline const std::string kAddressPreference = "gdbserver.address";
/// The tool property asking for a GDB server for the tool's target: a port, 0 for a free one, or
/// null for none. The server reports "GdbServerPort" (null once closed), or "GdbServerError".
inline const std::string kServerProperty = "GdbServer";
inline const std::string kPortProperty = "GdbServerPort";
inline const std::string kErrorProperty = "GdbServerError";

/// The back-end's GDB servers, one per target that asks for one (its tool's "GdbServer"
/// property) or, with the first-port preference, one per target with run control. A server goes
/// with its target.
///
/// Targets come and go on the model's events thread, which must never wait: those changes are
/// handled on a thread of this service. A tool's property is handled where it is set, so that
/// whoever set it reads the port back; every tool is followed from its set-up on, so that a
/// property set just after the tool connected is not missed. Opening and closing take turns.
class GdbServerService : public IService {
public:
    explicit GdbServerService(IOrixDebugger& debugger);
    ~GdbServerService() override;

    std::string getName() const override { return "GdbServer"; }
    void cleanup(int) override {}
    /// Each server's `GdbServer::describe`, by target id.
    boost::json::array servers() const;

private:
    struct Served {
        std::shared_ptr<IToolContext> tool;
        std::unique_ptr<GdbServer> server;
    };

    void post(std::function<void()> work);
    void runWork();
    void followTools(const ContextList& tools);
    void onAdded(const std::string& targetId);
    void onRemoved(const std::string& targetId);
    /// What the tool's "GdbServer" asks for its target, if it has one now.
    void onServerProperty(const std::shared_ptr<IToolContext>& tool, const boost::json::value& value);
    /// Opens the target's server on `port` (a free one for 0, the next from the first port for
    /// nullopt) or, with `close`, closes it; tells the tool the port or what went wrong.
    void serve(const std::string& targetId, const std::shared_ptr<IToolContext>& tool, std::optional<std::uint16_t> port,
               bool close);
    std::unique_ptr<GdbServer> open(const std::string& targetId, std::optional<std::uint16_t> port);
    std::shared_ptr<const ServedTarget> describeTarget(const std::string& targetId) const;
    /// The tool the device names as its "Tool"; null when there is none.
    std::shared_ptr<IToolContext> toolOf(const IDeviceContext& device) const;
    /// The model's target of `tool`; empty when it has none.
    std::string targetOf(const IToolContext& tool) const;

    /// Lets slots into this service while it lives: a slot that signals2 has disconnected may
    /// still be running when the service goes, and a closed gate waits for it.
    class Gate {
    public:
        template <class Work>
        void pass(Work&& work)
        {
            ++inside_;
            if (open_)
                work();
            --inside_;
        }
        void close()
        {
            open_ = false;
            while (inside_ > 0)
                std::this_thread::yield();
        }

    private:
        std::atomic<int> inside_{0};
        std::atomic<bool> open_{true};
    };

    IOrixDebugger& debugger_;
    const std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    const std::shared_ptr<debugging::DebugTargets> model_;
    std::string address_;
    std::optional<std::uint16_t> firstPort_;
    std::vector<boost::signals2::scoped_connection> registryWatches_;

    mutable std::mutex mutex_; ///< what follows
    std::map<std::string, Served> served_; ///< by target id
    std::map<std::string, boost::signals2::scoped_connection> toolWatches_; ///< by tool id
    std::mutex serving_; ///< one open or close at a time

    std::mutex workMutex_;
    std::condition_variable workQueued_;
    std::deque<std::function<void()>> work_;
    bool stopping_ = false;
    std::thread worker_;
};

/// "GdbServer": getServers () -> the servers and who holds each.
class GdbServerCommandServer : public CommandServerFor<GdbServerService> {
public:
    GdbServerCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);
};

} // namespace hil::gdbserver
