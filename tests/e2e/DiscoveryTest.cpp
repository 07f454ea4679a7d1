// SPDX-License-Identifier: Apache-2.0
// TCF discovery between real back-ends on loopback, on a well-known port of the test's own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "platform/discovery/DiscoveryPacket.h"
#include "tests/e2e/BackendProcess.h"
#include "tests/fakes/Eventually.h"

namespace hil::e2e {
namespace {

using boost::asio::ip::udp;
using testing::HasSubstr;
using testing::Not;

std::uint16_t freeUdpPort()
{
    boost::asio::io_context io;
    return udp::socket(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0)).local_endpoint().port();
}

/// Waits up to five seconds for `text` in the back-end's log.
bool logShows(const BackendProcess& backend, const std::string& text)
{
    return fakes::eventually([&] { return backend.log().find(text) != std::string::npos; });
}

/// A packet of `type`, from the peer `id` unless that is empty.
struct Expected {
    discovery::PacketType type;
    std::string id;
};

/// True when `socket` receives, in any order within two seconds, a packet for each of `wanted`;
/// other packets are passed over.
bool receives(udp::socket& socket, std::vector<Expected> wanted)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(2);
    std::string buffer(65536, '\0');
    for (;;) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        pollfd ready{socket.native_handle(), POLLIN, 0};
        if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0)
            return false;
        const auto size = socket.receive(boost::asio::buffer(buffer));
        const auto packet = discovery::decodePacket(std::string_view(buffer.data(), size));
        std::erase_if(wanted, [&](const Expected& one) {
            return packet && packet->type == one.type && (one.id.empty() || discovery::attributesOf(*packet)["ID"] == one.id);
        });
        if (wanted.empty())
            return true;
    }
}

TEST(Discovery, BackEndsFindEachOtherAClientListsThemAndHearsOneGo)
{
    const auto port = std::to_string(freeUdpPort());
    const std::vector<std::string> options{"--discovery", "on", "--discovery-port", port};
    BackendProcess master(options);
    auto slave = std::make_unique<BackendProcess>(options);
    const auto idOf = [](const BackendProcess& backend) { return "TCP:127.0.0.1:" + std::to_string(backend.port()); };
    const auto masterId = idOf(master);
    const auto slaveId = idOf(*slave);
    EXPECT_TRUE(logShows(master, "heard peer " + slaveId)) << master.log();
    EXPECT_TRUE(logShows(*slave, "heard peer " + masterId)) << slave->log();

    // A standard client asks at the broadcast addresses of the loopback network.
    for (const char* address : {"127.0.0.255", "127.255.255.255"}) {
        boost::asio::io_context io;
        udp::socket client(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        client.set_option(boost::asio::socket_base::broadcast(true));
        client.send_to(boost::asio::buffer(discovery::encodePacket(discovery::PacketType::RequestInfo)),
                       udp::endpoint(boost::asio::ip::make_address(address), static_cast<std::uint16_t>(std::stoi(port))));
        EXPECT_TRUE(receives(client, {{discovery::PacketType::PeerInfo, masterId}})) << address;
    }

    // Hostile datagrams at the well-known port change nothing.
    {
        boost::asio::io_context io;
        udp::socket socket(io, udp::endpoint(udp::v4(), 0));
        const udp::endpoint target(boost::asio::ip::address_v4::loopback(), static_cast<std::uint16_t>(std::stoi(port)));
        for (const std::string& bad : {std::string("TCF"), std::string("TCF9\x01\0\0\0", 8), std::string(64000, 'x'),
                                      std::string("TCF2\x02\0\0\0", 8) + std::string(60000, 'k'),
                                      std::string("TCF2\x04\0\0\0x:y:z\0", 14)})
            socket.send_to(boost::asio::buffer(bad), target);
    }

    const std::string discover = std::string(HIL_CLI_PATH) + " discover --wait 700 --port " + port;
    const auto both = runCommand(discover);
    EXPECT_EQ(both.exitCode, 0) << both.output;
    EXPECT_THAT(both.output, HasSubstr(masterId + "  hilcore-backend"));
    EXPECT_THAT(both.output, HasSubstr(slaveId + "  hilcore-backend"));
    EXPECT_THAT(both.output, HasSubstr("services Locator,Tool,"));

    slave.reset();
    EXPECT_TRUE(logShows(master, "peer gone " + slaveId)) << master.log();
    const auto one = runCommand(discover + " && " + HIL_CLI_PATH + " --json discover --wait 300 --port " + port);
    EXPECT_THAT(one.output, HasSubstr(masterId));
    EXPECT_THAT(one.output, Not(HasSubstr(slaveId)));
    EXPECT_THAT(one.output, HasSubstr("{\"data\":[{\"AgentID\":"));
}

TEST(Discovery, AClientHoldingTheWellKnownPortFirstHearsTheBackEndRegisterAsItsSlave)
{
    boost::asio::io_context io;
    udp::socket master(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    const BackendProcess backend({"--discovery", "on", "--discovery-port", std::to_string(master.local_endpoint().port())});
    const auto id = "TCP:127.0.0.1:" + std::to_string(backend.port());
    EXPECT_TRUE(receives(master, {{discovery::PacketType::SlavesInfo, ""}, {discovery::PacketType::PeerInfo, id}}));
}

TEST(Discovery, IsOffWhenAskedAndOptionsAreChecked)
{
    const auto port = std::to_string(freeUdpPort());
    BackendProcess quiet({"--discovery", "off", "--discovery-port", port});
    EXPECT_THAT(runCommand(std::string(HIL_CLI_PATH) + " discover --wait 300 --port " + port).output,
                HasSubstr("no back-end answered within 300 ms"));
    for (const std::string bad : {"--discovery maybe", "--discovery-port 0", "--discovery-port 70000"})
        EXPECT_EQ(runCommand(std::string(HIL_BACKEND_PATH) + " " + bad).exitCode, 2) << bad;
    EXPECT_EQ(runCommand(std::string(HIL_CLI_PATH) + " discover --wait none").exitCode, 2);
}

} // namespace
} // namespace hil::e2e
