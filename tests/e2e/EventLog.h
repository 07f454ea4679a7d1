// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/tcf/TcfClient.h"
#include "tests/e2e/BackendProcess.h"

namespace hil::e2e {

/// A client connected to `backend`.
inline std::unique_ptr<tcf::TcfClient> connect(const BackendProcess& backend)
{
    auto client = std::make_unique<tcf::TcfClient>();
    client->connect("127.0.0.1", backend.port());
    return client;
}

/// Collects the events a client hears, each as "SERVICE NAME FIRST-ARGUMENT" and, in full, as
/// "SERVICE NAME ARGUMENT..."; lets a test wait for one.
class EventLog {
public:
    void attach(tcf::TcfClient& client)
    {
        client.setEventHandler([this](const std::string& service, const std::string& name,
                                      const std::vector<std::string>& arguments) {
            std::lock_guard lock(mutex_);
            events_.push_back(service + " " + name + (arguments.empty() ? "" : " " + arguments[0]));
            std::string whole = service + " " + name;
            for (const auto& argument : arguments)
                whole += " " + argument;
            wholeEvents_.push_back(std::move(whole));
            changed_.notify_all();
        });
    }
    bool waitFor(const std::string& event, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return waitUntil([&](const std::string& heard) { return heard == event; }, timeout);
    }
    /// Waits for an event with every argument as given.
    bool waitForWhole(const std::string& event, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return std::find(wholeEvents_.begin(), wholeEvents_.end(), event) != wholeEvents_.end();
        });
    }
    /// Waits for an event that `matches`; true when one arrived in time.
    bool waitUntil(const std::function<bool(const std::string&)>& matches,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return std::any_of(events_.begin(), events_.end(), matches); });
    }
    /// Waits for an event whose whole text (every argument) `matches`.
    bool waitUntilWhole(const std::function<bool(const std::string&)>& matches,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout,
                                 [&] { return std::any_of(wholeEvents_.begin(), wholeEvents_.end(), matches); });
    }
    /// Waits for the first event at or after position `from` whose whole text starts with
    /// `prefix`; returns it and moves `from` past it, or nullopt after `timeout`.
    std::optional<std::string> next(const std::string& prefix, std::size_t& from,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(mutex_);
        std::optional<std::string> found;
        changed_.wait_for(lock, timeout, [&] {
            for (; from < wholeEvents_.size() && !found; ++from)
                if (wholeEvents_[from].rfind(prefix, 0) == 0)
                    found = wholeEvents_[from];
            return found.has_value();
        });
        return found;
    }
    std::vector<std::string> events()
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex_);
        return events_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::vector<std::string> wholeEvents_;
};

} // namespace hil::e2e
