// SPDX-License-Identifier: Apache-2.0
#include "platform/discovery/DiscoveryAgent.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>

#include <algorithm>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/post.hpp>

#include "platform/common/BackendLogger.h"

namespace hil::discovery {

namespace asio = boost::asio;
using asio::ip::udp;

namespace {

const std::string kCategory = "discovery";
/// The most peers and slaves kept: a flood of forged packets costs bounded memory.
constexpr std::size_t kMostKnown = 1024;

bool isLoopback(const std::string& address)
{
    boost::system::error_code error;
    const auto parsed = asio::ip::make_address_v4(address, error);
    return error || parsed.is_loopback();
}

/// Where an agent sends: the well-known port on this host, and on a non-loopback listener the
/// broadcast address of its interface (of every interface for "0.0.0.0").
std::vector<udp::endpoint> wellKnownEndpoints(const std::string& address, std::uint16_t port)
{
    std::vector<udp::endpoint> endpoints{{asio::ip::address_v4::loopback(), port}};
    if (isLoopback(address))
        return endpoints;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return endpoints;
    const bool every = address == "0.0.0.0";
    for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_BROADCAST) ||
            !entry->ifa_broadaddr)
            continue;
        const auto own = asio::ip::address_v4(ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr));
        const auto broadcast =
            asio::ip::address_v4(ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr)->sin_addr.s_addr));
        if (every || own.to_string() == address)
            endpoints.emplace_back(broadcast, port);
    }
    freeifaddrs(interfaces);
    return endpoints;
}

/// The IPv4 addresses of this host's interfaces.
std::vector<asio::ip::address> hostAddresses()
{
    std::vector<asio::ip::address> addresses{asio::ip::address_v4::loopback()};
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return addresses;
    for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next)
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET)
            addresses.emplace_back(
                asio::ip::address_v4(ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr)));
    freeifaddrs(interfaces);
    return addresses;
}

/// Where a client of ours binds: on loopback for a loopback listener, so that it is heard there.
asio::ip::address clientAddress(const std::string& address)
{
    return isLoopback(address) ? asio::ip::address(asio::ip::address_v4::loopback()) : asio::ip::address(asio::ip::address_v4::any());
}

} // namespace

DiscoveryAgent::DiscoveryAgent(PeerAttributes self, Options options)
    : self_(std::move(self)), selfId_(self_.at("ID")), options_(std::move(options)),
      loopbackOnly_(isLoopback(options_.address)), wellKnown_(wellKnownEndpoints(options_.address, options_.port)),
      hostAddresses_(hostAddresses())
{
    bindSocket(true);
    if (!socket_.is_open())
        bindSocket(false);
    if (!socket_.is_open())
        throw std::runtime_error("discovery: no UDP socket could be bound on " + options_.address);
    masterHeard_ = Clock::now();
    receive();
    sendToAll(encodePacket(PacketType::RequestInfo));
    advertise();
    timer_.expires_after(options_.interval);
    timer_.async_wait([this](const boost::system::error_code& error) {
        if (!error)
            tick();
    });
    thread_ = std::thread([this] { io_.run(); });
}

DiscoveryAgent::~DiscoveryAgent()
{
    asio::post(io_, [this] {
        sendToAll(encodePacket(PacketType::PeersRemoved, {selfId_}));
        io_.stop();
    });
    thread_.join();
}

std::map<std::string, PeerAttributes> DiscoveryAgent::peers() const
{
    std::lock_guard lock(mutex_);
    std::map<std::string, PeerAttributes> heard;
    for (const auto& [id, peer] : peers_)
        heard.emplace(id, peer.first);
    return heard;
}

bool DiscoveryAgent::isMaster() const
{
    std::lock_guard lock(mutex_);
    return master_;
}

void DiscoveryAgent::bindSocket(bool takeWellKnownPort)
{
    udp::socket socket(io_);
    boost::system::error_code error;
    socket.open(udp::v4(), error);
    // A process the back-end starts (QEMU) must not keep the well-known port bound.
    if (!error && ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC) != 0)
        error = boost::system::error_code(errno, boost::system::system_category());
    if (!error)
        socket.set_option(asio::socket_base::broadcast(true), error);
    if (!error)
        // Every address, as TCF agents bind: a client may ask at any broadcast address of the
        // subnet (127.255.255.255, 127.0.0.255), and a socket bound to one address hears no
        // other. Whom we answer is decided by the sender (`mayTalkTo`).
        socket.bind({udp::v4(), takeWellKnownPort ? options_.port : std::uint16_t(0)}, error);
    if (error)
        return;
    if (socket_.is_open())
        socket_.close();
    socket_ = std::move(socket);
    local_ = socket_.local_endpoint();
    std::lock_guard lock(mutex_);
    master_ = takeWellKnownPort;
}

bool DiscoveryAgent::mayTalkTo(const Endpoint& other) const
{
    return !loopbackOnly_ || other.address().is_loopback();
}

bool DiscoveryAgent::sentByUs(const Endpoint& sender) const
{
    if (sender.port() != local_.port())
        return false;
    if (!local_.address().is_unspecified())
        return sender.address() == local_.address();
    return std::find(hostAddresses_.begin(), hostAddresses_.end(), sender.address()) != hostAddresses_.end();
}

void DiscoveryAgent::receive()
{
    buffer_.resize(65536);
    socket_.async_receive_from(asio::buffer(buffer_), sender_, [this](const boost::system::error_code& error, std::size_t size) {
        if (error == asio::error::operation_aborted || !socket_.is_open())
            return;
        if (!error && mayTalkTo(sender_) && !sentByUs(sender_)) {
            if (const auto packet = decodePacket(std::string_view(buffer_.data(), size)))
                onPacket(sender_, *packet);
        }
        receive();
    });
}

void DiscoveryAgent::onPacket(const Endpoint& sender, const Packet& packet)
{
    if (sender.port() == options_.port)
        masterHeard_ = Clock::now();
    else
        noteSlave(sender);
    switch (packet.type) {
    case PacketType::RequestInfo:
        sendTo(sender, encodePacket(PacketType::PeerInfo, attributeItems(self_)));
        break;
    case PacketType::PeerInfo: {
        auto attributes = attributesOf(packet);
        const auto id = attributes.find("ID");
        if (id == attributes.end() || id->second == selfId_)
            break;
        std::lock_guard lock(mutex_);
        if (peers_.size() >= kMostKnown && !peers_.count(id->second))
            break;
        const auto [entry, added] = peers_.insert_or_assign(id->second, std::make_pair(attributes, Clock::now()));
        if (added)
            BackendLogger::info(kCategory, "heard peer " + entry->first);
        break;
    }
    case PacketType::RequestSlaves:
        sendTo(sender, slavesPacket(sender));
        break;
    case PacketType::SlavesInfo:
        // Only a master tells of slaves, and only of a few at a time: a forged list must not
        // turn us into a sender of packets to any address it names.
        if (sender.port() != options_.port)
            break;
        for (const auto& item : packet.items) {
            if (slaves_.size() >= kMostKnown)
                break;
            const auto entry = decodeSlaveEntry(item);
            boost::system::error_code error;
            const auto host = entry ? asio::ip::make_address(entry->host, error) : asio::ip::address();
            if (!entry || error || Endpoint(host, entry->port) == local_)
                continue;
            const Endpoint slave(host, entry->port);
            slaves_[slave] = Clock::now();
            sendTo(slave, encodePacket(PacketType::RequestInfo));
            sendTo(slave, encodePacket(PacketType::PeerInfo, attributeItems(self_)));
        }
        break;
    case PacketType::PeersRemoved: {
        std::lock_guard lock(mutex_);
        for (const auto& id : packet.items)
            if (peers_.erase(id) != 0)
                BackendLogger::info(kCategory, "peer gone " + id);
        break;
    }
    }
}

void DiscoveryAgent::noteSlave(const Endpoint& sender)
{
    const bool known = slaves_.count(sender) != 0;
    if (!known && slaves_.size() >= kMostKnown)
        return;
    slaves_[sender] = Clock::now();
    if (known || !isMaster())
        return;
    // A newcomer: the slaves known so far learn of it, and it of them.
    const std::string newcomer = encodePacket(PacketType::SlavesInfo, {encodeSlaveEntry(
        {static_cast<std::uint64_t>(options_.retention.count()), sender.port(), sender.address().to_string()})});
    for (const auto& [slave, heard] : slaves_)
        if (slave != sender)
            sendTo(slave, newcomer);
    sendTo(sender, slavesPacket(sender));
}

std::string DiscoveryAgent::slavesPacket(const Endpoint& except) const
{
    std::vector<std::string> entries;
    const auto now = Clock::now();
    for (const auto& [slave, heard] : slaves_) {
        const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(now - heard);
        if (slave != except && age < options_.retention)
            entries.push_back(encodeSlaveEntry(
                {static_cast<std::uint64_t>((options_.retention - age).count()), slave.port(), slave.address().to_string()}));
    }
    return encodePacket(PacketType::SlavesInfo, entries);
}

void DiscoveryAgent::tick()
{
    const auto now = Clock::now();
    std::erase_if(slaves_, [&](const auto& slave) { return now - slave.second >= options_.retention; });
    {
        std::lock_guard lock(mutex_);
        std::erase_if(peers_, [&](const auto& peer) { return now - peer.second.second >= options_.retention; });
    }
    if (!isMaster() && now - masterHeard_ >= 2 * options_.interval) {
        bindSocket(true);
        if (isMaster()) {
            BackendLogger::info(kCategory, "took the well-known port " + std::to_string(options_.port));
            receive();
        }
    }
    advertise();
    timer_.expires_after(options_.interval);
    timer_.async_wait([this](const boost::system::error_code& error) {
        if (!error)
            tick();
    });
}

void DiscoveryAgent::advertise()
{
    sendToAll(encodePacket(PacketType::PeerInfo, attributeItems(self_)));
    if (isMaster())
        return;
    // An empty slave table says "I am here": the master keeps us among its slaves and tells the
    // others of us.
    sendToAll(encodePacket(PacketType::SlavesInfo));
    sendToAll(encodePacket(PacketType::RequestSlaves));
}

void DiscoveryAgent::sendTo(const Endpoint& destination, const std::string& bytes)
{
    if (!mayTalkTo(destination))
        return;
    boost::system::error_code ignored; // a datagram that cannot go is lost, as any datagram may be
    socket_.send_to(asio::buffer(bytes), destination, 0, ignored);
}

void DiscoveryAgent::sendToAll(const std::string& bytes)
{
    for (const auto& destination : wellKnown_)
        if (destination != local_)
            sendTo(destination, bytes);
    for (const auto& [slave, heard] : slaves_)
        sendTo(slave, bytes);
}

std::map<std::string, PeerAttributes> listPeers(const std::string& address, std::uint16_t port, std::chrono::milliseconds wait)
{
    asio::io_context io;
    udp::socket socket(io, {clientAddress(address), 0});
    socket.set_option(asio::socket_base::broadcast(true));
    boost::system::error_code ignored;
    for (const auto& destination : wellKnownEndpoints(address, port)) {
        socket.send_to(asio::buffer(encodePacket(PacketType::RequestInfo)), destination, 0, ignored);
        socket.send_to(asio::buffer(encodePacket(PacketType::RequestSlaves)), destination, 0, ignored);
    }
    std::map<std::string, PeerAttributes> heard;
    std::string buffer(65536, '\0');
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (auto left = wait; left.count() > 0;
         left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())) {
        pollfd ready{socket.native_handle(), POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            continue;
        udp::endpoint sender;
        const auto size = socket.receive_from(asio::buffer(buffer), sender, 0, ignored);
        const auto packet = ignored ? std::nullopt : decodePacket(std::string_view(buffer.data(), size));
        if (!packet)
            continue;
        if (packet->type == PacketType::PeerInfo) {
            auto attributes = attributesOf(*packet);
            if (attributes.count("ID"))
                heard[attributes["ID"]] = std::move(attributes);
        } else if (packet->type == PacketType::SlavesInfo) {
            for (const auto& item : packet->items) {
                const auto entry = decodeSlaveEntry(item);
                const auto host = entry ? asio::ip::make_address(entry->host, ignored) : asio::ip::address();
                if (entry && !ignored)
                    socket.send_to(asio::buffer(encodePacket(PacketType::RequestInfo)), udp::endpoint(host, entry->port), 0, ignored);
            }
        }
    }
    return heard;
}

} // namespace hil::discovery
