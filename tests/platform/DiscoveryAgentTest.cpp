// SPDX-License-Identifier: Apache-2.0
// Discovery agents in one process, with short timings: who is master, what is forgotten, and who
// takes over when the master goes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>

#include <optional>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "platform/discovery/DiscoveryAgent.h"
#include "tests/fakes/Eventually.h"

namespace hil::discovery {
namespace {

using boost::asio::ip::udp;
using namespace std::chrono_literals;
using fakes::eventually;

/// The next packet `socket` receives within `wait`.
std::optional<Packet> nextPacket(udp::socket& socket, std::chrono::milliseconds wait)
{
    pollfd ready{socket.native_handle(), POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(wait.count())) <= 0)
        return std::nullopt;
    std::string buffer(65536, '\0');
    udp::endpoint sender;
    const auto size = socket.receive_from(boost::asio::buffer(buffer), sender);
    return decodePacket(std::string_view(buffer.data(), size));
}

/// The ID of the next peer info `socket` receives within `wait` ("" for none); a master also
/// sends a newcomer its slave table.
std::string nextPeerId(udp::socket& socket, std::chrono::milliseconds wait)
{
    for (auto packet = nextPacket(socket, wait); packet; packet = nextPacket(socket, wait))
        if (packet->type == PacketType::PeerInfo)
            return attributesOf(*packet)["ID"];
    return "";
}

/// An address of this host off loopback, when it has one.
std::optional<boost::asio::ip::address_v4> addressOffLoopback()
{
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return std::nullopt;
    std::optional<boost::asio::ip::address_v4> found;
    for (const ifaddrs* entry = interfaces; entry && !found; entry = entry->ifa_next)
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET) {
            const boost::asio::ip::address_v4 address(ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr));
            if (!address.is_loopback())
                found = address;
        }
    freeifaddrs(interfaces);
    return found;
}

class DiscoveryAgentTest : public testing::Test {
protected:
    DiscoveryAgentTest()
    {
        udp::socket probe(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        options.port = probe.local_endpoint().port();
        options.interval = 100ms;
        options.retention = 400ms;
    }

    std::unique_ptr<DiscoveryAgent> agent(const std::string& id)
    {
        return std::make_unique<DiscoveryAgent>(PeerAttributes{{"ID", id}, {"Name", id}}, options);
    }

    boost::asio::io_context io;
    DiscoveryAgent::Options options;
};

TEST_F(DiscoveryAgentTest, TheFirstIsMasterAndEachHearsTheOthers)
{
    auto a = agent("A");
    auto b = agent("B");
    auto c = agent("C");
    EXPECT_TRUE(a->isMaster());
    EXPECT_FALSE(b->isMaster());
    // Slaves hear each other through what the master tells them.
    EXPECT_TRUE(eventually([&] { return b->peers().count("C") && c->peers().count("B") && a->peers().size() == 2; }));
    EXPECT_EQ(b->peers().at("C").at("Name"), "C");
    EXPECT_FALSE(b->peers().count("B")) << "an agent does not list its own peer";
    EXPECT_EQ(listPeers("127.0.0.1", options.port, 300ms).size(), 3u);
    c.reset(); // its goodbye is heard at once, well within the retention
    EXPECT_TRUE(eventually([&] { return !a->peers().count("C") && !b->peers().count("C"); }));
}

TEST_F(DiscoveryAgentTest, APeerNotHeardAgainIsForgottenAndASlaveTakesOverFromAGoneMaster)
{
    auto master = agent("M");
    auto slave = agent("S");
    // A peer that advertises once and then falls silent, as a crashed agent would.
    udp::socket once(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    once.send_to(boost::asio::buffer(encodePacket(PacketType::PeerInfo, {"ID=Silent"})),
                 udp::endpoint(boost::asio::ip::address_v4::loopback(), options.port));
    EXPECT_TRUE(eventually([&] { return master->peers().count("Silent") == 1; }));
    EXPECT_TRUE(eventually([&] { return master->peers().count("Silent") == 0; }));
    EXPECT_TRUE(master->peers().count("S")) << "an agent that keeps advertising is kept";

    master.reset();
    EXPECT_TRUE(eventually([&] { return slave->isMaster(); }));
    auto newcomer = agent("N");
    EXPECT_FALSE(newcomer->isMaster());
    EXPECT_TRUE(eventually([&] { return newcomer->peers().count("S") && slave->peers().count("N"); }));
}

TEST_F(DiscoveryAgentTest, AClientAskingAtAnyLoopbackAddressIsAnsweredAndOneOffLoopbackIsNot)
{
    auto master = agent("A");
    // Standard clients ask at the broadcast addresses of the loopback network.
    for (const char* address : {"127.0.0.1", "127.0.0.255", "127.255.255.255"}) {
        // A client of its own for each: the master sends its peer to every client it has heard.
        udp::socket client(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        client.set_option(boost::asio::socket_base::broadcast(true));
        client.send_to(boost::asio::buffer(encodePacket(PacketType::RequestInfo)),
                       udp::endpoint(boost::asio::ip::make_address(address), options.port));
        EXPECT_EQ(nextPeerId(client, 2s), "A") << address;
    }
    // A loopback listener neither hears nor answers a sender off loopback, even on this host.
    const auto offLoopback = addressOffLoopback();
    if (!offLoopback)
        GTEST_SKIP() << "this host has no address off loopback";
    udp::socket stranger(io, udp::endpoint(*offLoopback, 0));
    stranger.send_to(boost::asio::buffer(encodePacket(PacketType::PeerInfo, {"ID=Stranger"})),
                     udp::endpoint(boost::asio::ip::address_v4::loopback(), options.port));
    stranger.send_to(boost::asio::buffer(encodePacket(PacketType::RequestInfo)),
                     udp::endpoint(boost::asio::ip::address_v4::loopback(), options.port));
    EXPECT_FALSE(nextPacket(stranger, 300ms));
    EXPECT_FALSE(master->peers().count("Stranger"));
}

TEST_F(DiscoveryAgentTest, AClientHoldingTheWellKnownPortMakesTheAgentASlaveThatRegistersWithIt)
{
    udp::socket holder(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), options.port));
    auto slave = agent("S");
    EXPECT_FALSE(slave->isMaster());
    bool registered = false;
    bool advertised = false;
    // The slave advertises every interval: what it sends within three of them is enough.
    const auto deadline = std::chrono::steady_clock::now() + 3 * options.interval;
    while (!(registered && advertised) && std::chrono::steady_clock::now() < deadline) {
        const auto packet = nextPacket(holder, options.interval);
        registered = registered || (packet && packet->type == PacketType::SlavesInfo);
        advertised = advertised || (packet && packet->type == PacketType::PeerInfo && attributesOf(*packet)["ID"] == "S");
    }
    EXPECT_TRUE(registered) << "the slave's empty slave table reaches the master";
    EXPECT_TRUE(advertised);
}

} // namespace
} // namespace hil::discovery
