// SPDX-License-Identifier: Apache-2.0
// Discovery agents in one process, with short timings: who is master, what is forgotten, and who
// takes over when the master goes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "platform/discovery/DiscoveryAgent.h"
#include "tests/fakes/Eventually.h"

namespace hil::discovery {
namespace {

using boost::asio::ip::udp;
using namespace std::chrono_literals;
using fakes::eventually;

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

} // namespace
} // namespace hil::discovery
