// SPDX-License-Identifier: Apache-2.0
// What a GDB server sends into the packet decoder, the stop-reply and feature parsers, the
// target description and the memory map, and what gdb sends into the stream reader of both
// sides: each answers or throws `std::runtime_error`, in bounded time, and never crashes. The
// reader cuts a stream the same wherever the reads split it.

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/rsp/PacketReader.h"
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
        switch (data[0] % 4) {
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
        case 2:
            (void)parseMemoryMap(text);
            break;
        default: {
            const auto items = [](std::string_view stream, std::size_t split) {
                rsp::PacketReader reader(256);
                auto all = reader.feed(stream.substr(0, split));
                for (auto& item : reader.feed(stream.substr(split)))
                    all.push_back(std::move(item));
                return all;
            };
            const auto whole = items(text, text.size());
            const auto split = items(text, text.empty() ? 0 : data[0] % text.size());
            if (whole.size() != split.size())
                std::abort();
            for (std::size_t i = 0; i < whole.size(); ++i)
                if (whole[i].kind != split[i].kind || whole[i].payload != split[i].payload)
                    std::abort();
        }
        }
    } catch (const std::runtime_error&) {
    }
    return 0;
}
