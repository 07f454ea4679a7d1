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
/// "SERVICE NAME ARGUMENT..."; lets a test wait for one. What it heard lives as long as the
/// client's handler does: a log may go before the client it listens to.
class EventLog {
public:
    void attach(tcf::TcfClient& client)
    {
        client.setEventHandler([heard = heard_](const std::string& service, const std::string& name,
                                                const std::vector<std::string>& arguments) {
            std::lock_guard lock(heard->mutex);
            heard->events.push_back(service + " " + name + (arguments.empty() ? "" : " " + arguments[0]));
            std::string whole = service + " " + name;
            for (const auto& argument : arguments)
                whole += " " + argument;
            heard->wholeEvents.push_back(std::move(whole));
            heard->changed.notify_all();
        });
    }
    bool waitFor(const std::string& event, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return waitUntil([&](const std::string& heard) { return heard == event; }, timeout);
    }
    /// Waits for an event with every argument as given.
    bool waitForWhole(const std::string& event, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return waitUntilWhole([&](const std::string& heard) { return heard == event; }, timeout);
    }
    /// Waits for an event that `matches`; true when one arrived in time.
    bool waitUntil(const std::function<bool(const std::string&)>& matches,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(heard_->mutex);
        return heard_->changed.wait_for(lock, timeout,
                                        [&] { return std::any_of(heard_->events.begin(), heard_->events.end(), matches); });
    }
    /// Waits for an event whose whole text (every argument) `matches`.
    bool waitUntilWhole(const std::function<bool(const std::string&)>& matches,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(heard_->mutex);
        return heard_->changed.wait_for(
            lock, timeout, [&] { return std::any_of(heard_->wholeEvents.begin(), heard_->wholeEvents.end(), matches); });
    }
    /// Waits for the first event at or after position `from` whose whole text starts with
    /// `prefix`; returns it and moves `from` past it, or nullopt after `timeout`.
    std::optional<std::string> next(const std::string& prefix, std::size_t& from,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(heard_->mutex);
        std::optional<std::string> found;
        heard_->changed.wait_for(lock, timeout, [&] {
            for (; from < heard_->wholeEvents.size() && !found; ++from)
                if (heard_->wholeEvents[from].rfind(prefix, 0) == 0)
                    found = heard_->wholeEvents[from];
            return found.has_value();
        });
        return found;
    }
    std::vector<std::string> events()
    {
        std::lock_guard lock(heard_->mutex);
        return heard_->events;
    }
    std::size_t count()
    {
        std::lock_guard lock(heard_->mutex);
        return heard_->events.size();
    }

private:
    struct Heard {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::string> events;
        std::vector<std::string> wholeEvents;
    };
    std::shared_ptr<Heard> heard_ = std::make_shared<Heard>();
};

} // namespace hil::e2e
