// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace hil::tcf {

/// Where events go: the transport installs one; tests install a recorder.
class IEventSink {
public:
    virtual ~IEventSink() = default;
    /// Must not block the channel thread that runs a command, nor wait for a slow client.
    virtual void sendEvent(const std::string& service, const std::string& name,
                           const std::vector<std::string>& arguments) = 0;
};

/// The TCF framework's entry for events.
class Protocol {
public:
    /// Sends one "E" message to every open channel; each argument is one JSON text. Safe from any
    /// thread, also while the caller holds a lock. With no sink installed the event is dropped.
    static void sendEvent(const std::string& service, const std::string& name,
                          const std::vector<std::string>& arguments);

    /// Installs the sink that `sendEvent` hands events to; null removes it. Returns the previous.
    static std::shared_ptr<IEventSink> setEventSink(std::shared_ptr<IEventSink> sink);
};

} // namespace hil::tcf
