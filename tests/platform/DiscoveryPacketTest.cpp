// SPDX-License-Identifier: Apache-2.0
// Discovery packets as they come off the network: what is read, and what is not a packet at all.

#include <gtest/gtest.h>

#include "platform/discovery/DiscoveryPacket.h"

namespace hil::discovery {
namespace {

TEST(DiscoveryPacket, PeerInfoRoundTripsAndItsHeaderIsTheProtocols)
{
    const PeerAttributes peer{{"ID", "TCP:127.0.0.1:1534"}, {"Name", "a=b"}, {"Port", "1534"}};
    const auto bytes = encodePacket(PacketType::PeerInfo, attributeItems(peer));
    EXPECT_EQ(bytes.substr(0, 8), std::string("TCF2\x02\0\0\0", 8));
    const auto packet = decodePacket(bytes);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->type, PacketType::PeerInfo);
    EXPECT_EQ(attributesOf(*packet), peer); // a value may hold '=': only the first one splits
}

struct BadPacket {
    std::string name;
    std::string bytes;
    bool isPacket;           ///< a packet at all
    std::size_t items = 0;   ///< the items read when it is
};

class DiscoveryPacketBad : public testing::TestWithParam<BadPacket> {};

TEST_P(DiscoveryPacketBad, IsReadOnlyAsFarAsItIsWellFormed)
{
    const auto packet = decodePacket(GetParam().bytes);
    ASSERT_EQ(packet.has_value(), GetParam().isPacket);
    if (packet) {
        EXPECT_EQ(packet->items.size(), GetParam().items);
    }
}

std::string big(std::size_t items)
{
    std::string bytes("TCF2\x02\0\0\0", 8);
    for (std::size_t i = 0; i < items; ++i)
        bytes += "Key" + std::to_string(i) + "=" + std::string(50, 'v') + '\0';
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryPacketBad,
    testing::Values(BadPacket{"Empty", "", false}, BadPacket{"ShortHeader", "TCF2\x01", false},
                    BadPacket{"WrongMagic", std::string("TCX2\x01\0\0\0", 8), false},
                    BadPacket{"WrongVersion", std::string("TCF1\x01\0\0\0", 8), false},
                    BadPacket{"TypeZero", std::string("TCF2\x00\0\0\0", 8), false},
                    BadPacket{"TypeSix", std::string("TCF2\x06\0\0\0", 8), false},
                    BadPacket{"NoZeroBytes", std::string("TCF2\x02\0\0\0", 8) + "ID=x", true, 0},
                    BadPacket{"TrailingBytes", std::string("TCF2\x02\0\0\0ID=x\0Na", 14), true, 1},
                    BadPacket{"SixtyFourKilobytes", big(1100), true, 1100}),
    [](const auto& info) { return info.param.name; });

TEST(DiscoveryPacket, AttributesWithoutKeyOrEqualsAreSkipped)
{
    const Packet packet{PacketType::PeerInfo, {"ID=x", "=y", "novalue", "Empty="}};
    EXPECT_EQ(attributesOf(packet), (PeerAttributes{{"ID", "x"}, {"Empty", ""}}));
}

TEST(DiscoveryPacket, SlaveEntriesNeedTheirNumbers)
{
    const auto entry = decodeSlaveEntry("30000:1940:192.168.0.1");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->ttlMs, 30000u);
    EXPECT_EQ(entry->port, 1940);
    EXPECT_EQ(entry->host, "192.168.0.1");
    EXPECT_EQ(encodeSlaveEntry(*entry), "30000:1940:192.168.0.1");
    for (const std::string bad : {"", "30000", "30000:1940", "30000:1940:", "x:1940:h", "30000:70000:h", "30000:0:h",
                                  "-1:1940:h", "30000:19a0:h"})
        EXPECT_FALSE(decodeSlaveEntry(bad)) << bad;
}

} // namespace
} // namespace hil::discovery
