// SPDX-License-Identifier: Apache-2.0
// Arbitrary byte streams into the TCF message decoder, cut into chunks where the input says, and
// every decoded message encoded again: it must decode to itself.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/tcf/MessageCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the chunk size, so that split escapes and separators are reached.
    const std::size_t chunk = 1 + data[0] % 64;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    hil::tcf::MessageDecoder decoder(4096);
    try {
        for (std::size_t at = 0; at < stream.size(); at += chunk)
            decoder.feed(stream.substr(at, chunk), [](hil::tcf::Message&& message) {
                const std::string encoded = hil::tcf::encodeMessage(message);
                hil::tcf::MessageDecoder again;
                int decoded = 0;
                again.feed(encoded, [&](hil::tcf::Message&& copy) {
                    if (!(copy == message))
                        std::abort();
                    ++decoded;
                });
                if (decoded != 1)
                    std::abort();
            });
    } catch (const hil::tcf::DecodeError&) {
        // Malformed input is refused; that is the expected outcome for most streams.
    }
    return 0;
}
