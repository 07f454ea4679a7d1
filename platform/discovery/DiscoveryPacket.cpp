// SPDX-License-Identifier: Apache-2.0
#include "platform/discovery/DiscoveryPacket.h"

#include <charconv>

namespace hil::discovery {

namespace {

constexpr std::size_t kHeaderSize = 8;

template <typename Number>
bool parseNumber(std::string_view text, Number& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

} // namespace

std::string encodePacket(PacketType type, const std::vector<std::string>& items)
{
    std::string bytes{'T', 'C', 'F', '2', static_cast<char>(type), '\0', '\0', '\0'};
    for (const auto& item : items) {
        bytes += item;
        bytes.push_back('\0');
    }
    return bytes;
}

std::vector<std::string> attributeItems(const PeerAttributes& attributes)
{
    std::vector<std::string> items;
    for (const auto& [key, value] : attributes)
        items.push_back(key + "=" + value);
    return items;
}

std::optional<Packet> decodePacket(std::string_view bytes)
{
    if (bytes.size() < kHeaderSize || bytes.substr(0, 4) != "TCF2")
        return std::nullopt;
    const auto type = static_cast<std::uint8_t>(bytes[4]);
    if (type < static_cast<std::uint8_t>(PacketType::RequestInfo) || type > static_cast<std::uint8_t>(PacketType::PeersRemoved))
        return std::nullopt;
    Packet packet{static_cast<PacketType>(type), {}};
    std::size_t start = kHeaderSize;
    for (auto zero = bytes.find('\0', start); zero != std::string_view::npos; zero = bytes.find('\0', start)) {
        packet.items.emplace_back(bytes.substr(start, zero - start));
        start = zero + 1;
    }
    return packet;
}

PeerAttributes attributesOf(const Packet& packet)
{
    PeerAttributes attributes;
    for (const auto& item : packet.items)
        if (const auto equals = item.find('='); equals != std::string::npos && equals > 0)
            attributes[item.substr(0, equals)] = item.substr(equals + 1);
    return attributes;
}

std::string encodeSlaveEntry(const SlaveEntry& entry)
{
    return std::to_string(entry.ttlMs) + ":" + std::to_string(entry.port) + ":" + entry.host;
}

std::optional<SlaveEntry> decodeSlaveEntry(const std::string& item)
{
    const auto first = item.find(':');
    const auto second = first == std::string::npos ? first : item.find(':', first + 1);
    if (second == std::string::npos || second + 1 == item.size())
        return std::nullopt;
    SlaveEntry entry;
    const std::string_view text(item);
    if (!parseNumber(text.substr(0, first), entry.ttlMs) || !parseNumber(text.substr(first + 1, second - first - 1), entry.port) ||
        entry.port == 0)
        return std::nullopt;
    entry.host = item.substr(second + 1);
    return entry;
}

} // namespace hil::discovery
