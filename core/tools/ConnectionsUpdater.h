// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "core/interfaces/IToolService.h"

namespace hil {

class ToolService;

/// Watches the attached tools: once a second, on the "Connection Polling Thread", it asks the
/// Tool service for the list and announces it when it differs from the last one announced
/// (records compared position by position).
///
/// Start and stop are called from one controlling thread at a time; stop wakes the thread from
/// its sleep and returns only after it ended. The last announced list survives a stop, so a
/// restart announces only a difference. A pass whose `getAttachedTools` throws is logged and
/// leaves the last list as it was; polling goes on.
class ConnectionsUpdater {
public:
    using Signal = IToolService::AttachedToolsSignal;

    explicit ConnectionsUpdater(ToolService* toolService);
    virtual ~ConnectionsUpdater();
    ConnectionsUpdater(const ConnectionsUpdater&) = delete;
    ConnectionsUpdater& operator=(const ConnectionsUpdater&) = delete;

    void startUpdatingConnections();
    void stopUpdatingConnections();
    boost::signals2::connection addConnectionsUpdatedSlot(const Signal::slot_type& slot) const;

    /// The time between two passes.
    static constexpr std::chrono::seconds kInterval{1};

private:
    void updateConnections();
    void pollOnce();

    mutable Signal connectionsUpdated_;
    std::thread thread_;
    bool running_ = false;
    std::atomic<bool> keepPolling_{false};
    ToolService* toolService_;
    std::vector<ConnectionInfo> lastConnections_;
    std::mutex sleepMutex_;
    std::condition_variable wake_;
};

} // namespace hil
