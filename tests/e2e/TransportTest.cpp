// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio.hpp>
#include <boost/json.hpp>

#include "platform/tcf/MessageCodec.h"
#include "platform/tcf/TcfClient.h"
#include "tests/e2e/BackendProcess.h"
#include "tests/e2e/EventLog.h"
#include "tests/fakes/Eventually.h"

namespace hil::e2e {
namespace {

using namespace std::chrono_literals;
using testing::ElementsAre;
using tcf::TcfClient;

class TransportTest : public testing::Test {
protected:
    BackendProcess backend{BackendProcess::withTestBundles()};
};

TEST_F(TransportTest, HelloListsEveryServiceEachAnswersAndUnknownsAreRefused)
{
    auto client = connect(backend);
    EXPECT_EQ(client->peerServices(), kTestBundleServices);
    for (const auto& service : client->peerServices()) {
        if (service == "Locator")
            continue;
        const auto reply = client->call(service, "getChildren", {"\"\""});
        EXPECT_TRUE(reply.recognised) << service;
        // Stimuli keeps providers, not contexts, and has no generic commands.
        if (service == "Stimuli")
            EXPECT_THAT(reply.values.at(0), testing::HasSubstr(R"("Code":3)")) << service;
        else
            EXPECT_THAT(reply.values, ElementsAre("", "[]")) << service;
    }
    EXPECT_FALSE(client->call("Nowhere", "getChildren", {"\"\""}).recognised);
    EXPECT_FALSE(client->call("Locator", "redirect", {"{}"}).recognised);
    const auto reply = client->call("Echo", "frobnicate");
    EXPECT_TRUE(reply.recognised);
    EXPECT_THAT(reply.values, ElementsAre(R"({"Code":3,"Service":"Echo","Format":"Unknown command:frobnicate"})"));
}

TEST_F(TransportTest, CommandBeforeTheClientsHelloIsNotRecognised)
{
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    socket.connect({boost::asio::ip::make_address("127.0.0.1"), backend.port()});
    boost::asio::write(socket, boost::asio::buffer(tcf::encodeMessage({tcf::MessageKind::Command, {"1", "Echo", "getChildren", "\"\""}})));
    tcf::MessageDecoder decoder;
    std::vector<tcf::Message> received;
    std::array<char, 4096> buffer;
    while (received.size() < 2) {
        const auto n = socket.read_some(boost::asio::buffer(buffer));
        decoder.feed({buffer.data(), n}, [&](tcf::Message&& message) { received.push_back(std::move(message)); });
    }
    EXPECT_EQ(received[0].kind, tcf::MessageKind::Event);
    boost::json::array announced(kTestBundleServices.begin(), kTestBundleServices.end());
    EXPECT_THAT(received[0].fields, ElementsAre("Locator", "Hello", boost::json::serialize(announced)));
    EXPECT_EQ(received[1], (tcf::Message{tcf::MessageKind::NotRecognised, {"1"}}));
}

TEST_F(TransportTest, SyncAnswersAfterEveryEarlierCommandAndProgressComesBeforeItsReply)
{
    auto client = connect(backend);
    auto slow = client->send("Echo", "sleep", {"200"});
    const auto sync = client->call("Locator", "sync");
    EXPECT_TRUE(sync.recognised);
    EXPECT_TRUE(sync.values.empty());
    EXPECT_EQ(slow.wait_for(0s), std::future_status::ready) << "sync overtook an earlier command";

    std::vector<std::string> progress;
    auto reply = client->send("Echo", "progress", {"3"},
                              [&](const std::vector<std::string>& values) { progress.push_back(values.at(0)); });
    ASSERT_EQ(reply.wait_for(5s), std::future_status::ready);
    EXPECT_THAT(reply.get().values, ElementsAre("", "3"));
    EXPECT_THAT(progress, ElementsAre("0", "1", "2"));
}

TEST_F(TransportTest, TwoClientsBothHearEventsAndDisconnectCleansUpOnlyTheLeaver)
{
    auto stayer = connect(backend);
    EventLog heard;
    heard.attach(*stayer);
    auto leaver = connect(backend);
    ASSERT_THAT(leaver->call("Echo", "addContext", {"\"leaver-ctx\"", "\"\""}).values, ElementsAre(""));
    ASSERT_THAT(stayer->call("Echo", "addContext", {"\"stayer-ctx\"", "\"\""}).values, ElementsAre(""));
    EXPECT_TRUE(heard.waitFor(R"(Echo contextAdded [{"ID":"leaver-ctx"}])"));
    EXPECT_THAT(stayer->call("Echo", "getChildren", {"\"\""}).values, ElementsAre("", R"(["leaver-ctx","stayer-ctx"])"));

    leaver->close();
    EXPECT_TRUE(fakes::eventually([&] { return stayer->call("Echo", "getChildren", {"\"\""}).values.at(1) == R"(["stayer-ctx"])"; }));
}

struct BadInput {
    std::string name;
    std::string bytes;
    friend void PrintTo(const BadInput& value, std::ostream* out) { *out << value.name; }
};

class TransportRefuses : public testing::TestWithParam<BadInput> {};

TEST_P(TransportRefuses, ClosesOnlyTheOffendingChannel)
{
    BackendProcess backend(BackendProcess::withTestBundles({"--max-message-bytes", "4096"}));
    auto bystander = connect(backend);
    auto offender = connect(backend);
    offender->sendRaw(GetParam().bytes);
    EXPECT_TRUE(offender->waitUntilClosed(5s));
    EXPECT_THAT(bystander->call("Echo", "getChildren", {"\"\""}).values, ElementsAre("", "[]"));
    EXPECT_THAT(backend.log(), testing::HasSubstr("closed:"));
}

INSTANTIATE_TEST_SUITE_P(
    Input, TransportRefuses,
    testing::Values(BadInput{"Oversized", tcf::encodeMessage({tcf::MessageKind::Command,
                                                              {"1", "Echo", "getChildren", std::string(5000, ' ')}})},
                    // Small in bytes, but each field would cost a string of its own. Other malformed
                    // streams are the codec's tests' business.
                    BadInput{"ManyEmptyFields", "C" + std::string(2000, '\0') + "\x03\x01"}),
    [](const auto& info) { return info.param.name; });

TEST(TransportLimits, ClientThatStopsReadingIsDroppedAndOthersKeepGoing)
{
    BackendProcess backend(BackendProcess::withTestBundles({"--max-outgoing-bytes", "1048576"}));
    // A client that never reads: a raw socket with a small receive buffer, after its Hello.
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket silent(io);
    silent.open(boost::asio::ip::tcp::v4());
    silent.set_option(boost::asio::socket_base::receive_buffer_size(4096));
    silent.connect({boost::asio::ip::make_address("127.0.0.1"), backend.port()});
    boost::asio::write(silent, boost::asio::buffer(tcf::encodeMessage({tcf::MessageKind::Event, {"Locator", "Hello", "[]"}})));

    auto reader = connect(backend);
    EventLog heard;
    heard.attach(*reader);
    // 40 rounds of 100 events of 8 KiB: 32 MiB, far more than the silent client's queue may hold.
    for (int round = 0; round < 40; ++round)
        ASSERT_THAT(reader->call("Echo", "emit", {"100", "8192"}).values, ElementsAre(""));
    EXPECT_TRUE(heard.waitFor("Echo tick 99"));
    EXPECT_THAT(backend.log(), testing::HasSubstr("it stopped reading"));
    EXPECT_THAT(reader->call("Echo", "getChildren", {"\"\""}).values, ElementsAre("", "[]"));
}

TEST(TransportLimits, ClientsBeyondTheLimitAreRefusedAsTheirHelloArrives)
{
    BackendProcess backend(BackendProcess::withTestBundles({"--max-clients", "1"}));
    auto first = connect(backend);
    // Once "sync" is answered, the back-end has read the first client's Hello: until then the
    // first is a connection waiting for its Hello, which a newer one may push out.
    first->call("Locator", "sync");
    TcfClient second;
    try {
        second.connect("127.0.0.1", backend.port(), 2s);
        EXPECT_TRUE(second.waitUntilClosed(5s));
    } catch (const TcfClient::Error&) {
        // closed before its Hello was read: refused all the same
    }
    EXPECT_THAT(first->call("Echo", "getChildren", {"\"\""}).values, ElementsAre("", "[]"));
    EXPECT_THAT(backend.log(), testing::HasSubstr("already 1 clients"));
}

TEST(TransportLimits, ConnectionsThatSayNothingLockNobodyOutAndAreClosedInTime)
{
    BackendProcess backend(BackendProcess::withTestBundles({"--max-clients", "4", "--hello-timeout", "1000"}));
    boost::asio::io_context io;
    std::vector<boost::asio::ip::tcp::socket> silent;
    for (int i = 0; i < 12; ++i) {
        silent.emplace_back(io);
        silent.back().connect({boost::asio::ip::make_address("127.0.0.1"), backend.port()});
    }
    // Three times as many silent connections as client slots, and clients still get in.
    std::vector<std::unique_ptr<TcfClient>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(connect(backend));
        EXPECT_THAT(clients.back()->call("Echo", "getChildren", {"\"\""}).values, ElementsAre("", "[]"));
    }
    // Each silent connection ends: closed for the newer ones, or for its silence.
    for (auto& socket : silent) {
        std::array<char, 4096> buffer;
        boost::system::error_code error;
        while (!error)
            socket.read_some(boost::asio::buffer(buffer), error);
        EXPECT_EQ(error, boost::asio::error::eof);
    }
    EXPECT_THAT(backend.log(), testing::HasSubstr("it sent no Hello within 1000 ms"));
    EXPECT_THAT(clients.front()->call("Locator", "sync").values, ElementsAre());
}

TEST(BackendLifecycle, SigtermShutsDownCleanly)
{
    BackendProcess backend(BackendProcess::withTestBundles());
    auto client = connect(backend);
    ASSERT_THAT(client->call("Echo", "addContext", {"\"c\"", "\"\""}).values, ElementsAre(""));
    EXPECT_EQ(backend.stop(), 0);
    EXPECT_TRUE(client->waitUntilClosed(5s));
    // Shutdown frees what it releases, in order: the command server, which listens to its
    // service, before the service, and both before the host is done.
    const std::string log = backend.log();
    const auto serverGone = log.find("Echo command server destroyed");
    const auto serviceGone = log.find("Echo service destroyed");
    const auto hostDone = log.find("Every service released");
    ASSERT_NE(hostDone, std::string::npos) << log;
    EXPECT_LT(serverGone, serviceGone) << log;
    EXPECT_LT(serviceGone, hostDone) << log;
}

TEST(BackendLifecycle, MissingBundleDirectoryIsAClearError)
{
    EXPECT_THROW(BackendProcess({"--bundles", "/nonexistent/bundles"}), std::runtime_error);
}

} // namespace
} // namespace hil::e2e
