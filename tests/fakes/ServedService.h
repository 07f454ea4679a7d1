// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/RecordingChannel.h"
#include "tests/fakes/RecordingEventSink.h"

namespace hil::fakes {

/// What a command server test starts from: the service on a fake debugger, its command server,
/// the events it sends recorded, and a channel that records the replies.
template <class Service, class Server>
struct ServedService {
    /// The values of the one reply to `command`.
    std::vector<std::string> run(const std::string& command, const std::vector<std::string>& arguments = {})
    {
        return call(*server, channel, command, arguments);
    }

    FakeDebugger debugger;
    std::shared_ptr<Service> service = std::make_shared<Service>(debugger);
    ScopedEventRecorder events;
    std::unique_ptr<Server> server = std::make_unique<Server>(debugger, service);
    RecordingChannel channel;
};

} // namespace hil::fakes
