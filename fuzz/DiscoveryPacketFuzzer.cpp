// SPDX-License-Identifier: Apache-2.0
// Arbitrary datagrams into the discovery packet reader: what it reads must encode back to the
// datagram up to its last zero byte, and every item must survive the attribute and slave readers.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/discovery/DiscoveryPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view datagram(reinterpret_cast<const char*>(data), size);
    const auto packet = hil::discovery::decodePacket(datagram);
    if (!packet)
        return 0;
    const auto again = hil::discovery::encodePacket(packet->type, packet->items);
    if (datagram.substr(0, 4) != again.substr(0, 4) || datagram.substr(8, again.size() - 8) != again.substr(8))
        std::abort();
    hil::discovery::attributesOf(*packet);
    for (const auto& item : packet->items)
        if (const auto entry = hil::discovery::decodeSlaveEntry(item);
            entry && hil::discovery::decodeSlaveEntry(hil::discovery::encodeSlaveEntry(*entry))->host != entry->host)
            std::abort();
    return 0;
}
