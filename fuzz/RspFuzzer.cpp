// SPDX-License-Identifier: Apache-2.0
// What a GDB server sends into the packet decoder, the stop-reply and feature parsers, the
// target description and the memory map: each answers or throws `std::runtime_error`, in
// bounded time, and never crashes.

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/rsp/RspCodec.h"
#include "bundles/gdbremote/TargetDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    using namespace hil;
    using namespace hil::gdbremote;
    try {
        switch (data[0] % 3) {
        case 0: {
            const std::string payload = rsp::decodePayload(text);
            if (const auto stop = rsp::parseStopReply(payload))
                (void)stop->describe();
            (void)rsp::parseFeatures(payload);
            (void)rsp::fromHex(payload);
            (void)rsp::isOutputPacket(payload);
            break;
        }
        case 1:
            // Every annex is the input: includes nest until the depth limit.
            (void)parseTargetDescription([&](const std::string&) { return text; });
            break;
        default:
            (void)parseMemoryMap(text);
        }
    } catch (const std::runtime_error&) {
    }
    return 0;
}
