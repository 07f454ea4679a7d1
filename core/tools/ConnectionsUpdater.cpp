// SPDX-License-Identifier: Apache-2.0
#include "core/tools/ConnectionsUpdater.h"

#include "core/tools/ToolService.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/ThreadName.h"

namespace hil {

ConnectionsUpdater::ConnectionsUpdater(ToolService* toolService) : toolService_(toolService) {}

ConnectionsUpdater::~ConnectionsUpdater() { stopUpdatingConnections(); }

void ConnectionsUpdater::startUpdatingConnections()
{
    if (running_)
        return;
    keepPolling_ = true;
    thread_ = std::thread([this] { updateConnections(); });
    running_ = true;
}

void ConnectionsUpdater::stopUpdatingConnections()
{
    if (!running_)
        return;
    {
        std::lock_guard lock(sleepMutex_);
        keepPolling_ = false;
    }
    wake_.notify_all();
    thread_.join();
    running_ = false;
}

boost::signals2::connection ConnectionsUpdater::addConnectionsUpdatedSlot(const Signal::slot_type& slot) const
{
    return connectionsUpdated_.connect(slot);
}

void ConnectionsUpdater::updateConnections()
{
    setCurrentThreadName("Connection Polling Thread");
    while (keepPolling_) {
        pollOnce();
        std::unique_lock lock(sleepMutex_);
        wake_.wait_for(lock, kInterval, [this] { return !keepPolling_; });
    }
}

void ConnectionsUpdater::pollOnce()
{
    std::vector<ConnectionInfo> current;
    try {
        Status status;
        current = toolService_->getAttachedTools(status, "");
    } catch (const std::exception& error) {
        BackendLogger::error("toolService", std::string("Polling the attached tools failed: ") + error.what());
        return;
    } catch (...) {
        BackendLogger::error("toolService", "Polling the attached tools failed with an unknown exception");
        return;
    }
    if (current == lastConnections_)
        return;
    connectionsUpdated_(current);
    lastConnections_ = std::move(current);
}

} // namespace hil
