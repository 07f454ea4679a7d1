// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hil::discovery {

/// The well-known UDP port of TCF discovery.
inline constexpr std::uint16_t kDiscoveryPort = 1534;
/// No packet we send is longer; longer ones we receive are read all the same.
inline constexpr std::size_t kMaxPacketSize = 1500;

enum class PacketType : std::uint8_t {
    RequestInfo = 1,  ///< "send me your peers"; header only
    PeerInfo = 2,     ///< one peer: its attributes "key=value"
    RequestSlaves = 3, ///< "send me the agents you know"; header only
    SlavesInfo = 4,   ///< agents as "TTL_MS:UDP_PORT:HOST"
    PeersRemoved = 5, ///< the IDs of peers that went away
};

/// One packet: its type and its zero-terminated items.
struct Packet {
    PacketType type = PacketType::RequestInfo;
    std::vector<std::string> items;
};

/// A peer's attributes, by key ("ID", "Name", "Host", "Port", ...).
using PeerAttributes = std::map<std::string, std::string>;

/// The bytes of a packet: the 8-byte header ("TCF2", the type, three zero bytes), then each item
/// followed by a zero byte.
std::string encodePacket(PacketType type, const std::vector<std::string>& items = {});
/// The attributes as "key=value" items.
std::vector<std::string> attributeItems(const PeerAttributes& attributes);

/// The packet in `bytes`; none when the header is short or not ours, the version is not 2 or the
/// type unknown. Bytes after the last zero byte are not an item and are dropped.
std::optional<Packet> decodePacket(std::string_view bytes);
/// The "key=value" items of a peer packet; items without '=' or with an empty key are skipped.
PeerAttributes attributesOf(const Packet& packet);

/// One "TTL_MS:UDP_PORT:HOST" entry of a slaves packet.
struct SlaveEntry {
    std::uint64_t ttlMs = 0;
    std::uint16_t port = 0;
    std::string host;
};
std::string encodeSlaveEntry(const SlaveEntry& entry);
/// None for an entry that is not three fields with numbers where numbers belong.
std::optional<SlaveEntry> decodeSlaveEntry(const std::string& item);

} // namespace hil::discovery
