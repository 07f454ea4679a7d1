// SPDX-License-Identifier: Apache-2.0
#include "platform/tcf/Protocol.h"

#include <atomic>

namespace hil::tcf {

namespace {
std::atomic<std::shared_ptr<IEventSink>> gEventSink;
}

void Protocol::sendEvent(const std::string& service, const std::string& name, const std::vector<std::string>& arguments)
{
    // A copy keeps the sink alive even when the transport swaps it out meanwhile.
    if (auto sink = gEventSink.load())
        sink->sendEvent(service, name, arguments);
}

std::shared_ptr<IEventSink> Protocol::setEventSink(std::shared_ptr<IEventSink> sink)
{
    return gEventSink.exchange(std::move(sink));
}

} // namespace hil::tcf
