// SPDX-License-Identifier: Apache-2.0
// Faults end to end: clients that come and go by the thousand, and a client that vanishes in
// the middle of a command. The back-end must give back what they took and keep serving.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include <boost/asio.hpp>

#include "platform/tcf/MessageCodec.h"

#include "tests/e2e/EventLog.h"
#include "tests/fakes/Eventually.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using namespace std::chrono_literals;
using fakes::eventually;
using testing::ElementsAre;

std::size_t openDescriptors(pid_t pid)
{
    const auto directory = std::filesystem::path("/proc") / std::to_string(pid) / "fd";
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(directory), {}));
}

/// The resident memory of `pid` in KiB.
std::size_t residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoul(line.substr(6));
    return 0;
}

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory in quarantine, so resident memory tells nothing there; its
// leak checker watches for leaks instead.
constexpr bool kResidentMemoryTells = false;
#else
constexpr bool kResidentMemoryTells = true;
#endif

class FaultTest : public testing::Test {
protected:
    fakes::TempDirectory directory;
    BackendProcess backend{BackendProcess::withProbeDirectory(directory.path())};
};

TEST_F(FaultTest, ThousandClientsComingAndGoingLeaveNoDescriptorsOrMemoryBehind)
{
    // A first round settles what a served client leaves for good (thread-local buffers, caches).
    for (int i = 0; i < 50; ++i)
        connect(backend)->call("Tool", "getChildren", {R"("")"});
    // Closed channels are cleaned up just after; wait until the count holds still.
    std::size_t descriptors = openDescriptors(backend.pid());
    ASSERT_TRUE(eventually([&] {
        std::this_thread::sleep_for(100ms);
        const std::size_t now = openDescriptors(backend.pid());
        return std::exchange(descriptors, now) == now;
    }));
    const std::size_t memory = residentKiB(backend.pid());

    for (int i = 0; i < 1000; ++i) {
        auto client = connect(backend);
        if (i % 10 == 0)
            client->call("Tool", "getChildren", {R"("")"});
    }
    EXPECT_TRUE(eventually([&] { return openDescriptors(backend.pid()) <= descriptors; }))
        << openDescriptors(backend.pid()) << " descriptors open, " << descriptors << " before";
    // Allocators keep some memory for later; a leak of even 8 KiB a client would pass 8 MiB.
    if (kResidentMemoryTells) {
        EXPECT_LT(residentKiB(backend.pid()), memory + 8 * 1024) << "KiB resident, " << memory << " before";
    }
    RecordProperty("descriptors_before", static_cast<int>(descriptors));
    RecordProperty("descriptors_after", static_cast<int>(openDescriptors(backend.pid())));
    RecordProperty("resident_kib_before", static_cast<int>(memory));
    RecordProperty("resident_kib_after", static_cast<int>(residentKiB(backend.pid())));
    EXPECT_THAT(connect(backend)->call("Locator", "sync").values, ElementsAre());
}

TEST_F(FaultTest, MemoryThatClientsReadingEightMiBEachTookGoesBackWhenTheyLeave)
{
    // Several at once, so that their threads would allocate from as many of the allocator's
    // arenas.
    constexpr int kThreads = 8;
    constexpr int kClientsEach = 4;
    EXPECT_THAT(connect(backend)->call("Echo", "getChildren", {R"("")"}).values, ElementsAre("", "[]"));
    ASSERT_TRUE(eventually([&] { return backend.log().find(") closed: ") != std::string::npos; }));
    const std::size_t before = residentKiB(backend.pid());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kClientsEach; ++i)
                EXPECT_EQ(connect(backend)->call("Echo", "blob", {"8388608"}).values.at(1).size(), (8u << 20) + 2);
        });
    for (auto& thread : threads)
        thread.join();
    if (kResidentMemoryTells) {
        EXPECT_TRUE(eventually([&] { return residentKiB(backend.pid()) < before + 16 * 1024; }))
            << residentKiB(backend.pid()) << " KiB resident, " << before << " before";
    }
    RecordProperty("resident_kib_before", static_cast<int>(before));
    RecordProperty("resident_kib_after", static_cast<int>(residentKiB(backend.pid())));
}

TEST(SlowReaderTest, PipelinedBigRepliesAreAllDeliveredAndCostAtMostTheCap)
{
    BackendProcess backend(BackendProcess::withTestBundles());
    // A raw client that sends its Hello and a hundred 1 MiB requests at once, then reads.
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    socket.open(boost::asio::ip::tcp::v4());
    socket.set_option(boost::asio::socket_base::receive_buffer_size(64 * 1024));
    socket.connect({boost::asio::ip::make_address("127.0.0.1"), backend.port()});
    constexpr int kRequests = 100;
    std::string requests = tcf::encodeMessage({tcf::MessageKind::Event, {"Locator", "Hello", "[]"}});
    for (int i = 0; i < kRequests; ++i)
        requests += tcf::encodeMessage({tcf::MessageKind::Command, {std::to_string(i), "Echo", "blob", "1048576"}});
    const std::size_t before = residentKiB(backend.pid());
    boost::asio::write(socket, boost::asio::buffer(requests));

    tcf::MessageDecoder decoder;
    int replies = 0;
    std::size_t peak = before;
    std::array<char, 64 * 1024> buffer;
    while (replies < kRequests) {
        const auto n = socket.read_some(boost::asio::buffer(buffer));
        decoder.feed({buffer.data(), n}, [&](tcf::Message&& message) {
            if (message.kind == tcf::MessageKind::Reply && message.fields.at(0) == std::to_string(replies))
                ++replies;
        });
        // Slower than the back-end writes: a pause now and then, as a busy client would.
        if (replies % 10 == 0)
            std::this_thread::sleep_for(1ms);
        peak = std::max(peak, residentKiB(backend.pid()));
    }
    EXPECT_EQ(replies, kRequests) << "every reply arrives, in order";
    // 100 MiB went out; what waited for the client never passed a few MiB.
    if (kResidentMemoryTells) {
        EXPECT_LT(peak, before + 32 * 1024) << "KiB resident at the peak, " << before << " before";
    }
    RecordProperty("resident_kib_before", static_cast<int>(before));
    RecordProperty("resident_kib_peak", static_cast<int>(peak));
    EXPECT_THAT(backend.log(), testing::Not(testing::HasSubstr("stopped reading")));

    // A client that leaves with a hundred replies unread: its channel, which waits for room
    // before it runs more, still sees it go and closes.
    const auto closedChannels = [&] {
        const std::string log = backend.log();
        std::size_t count = 0;
        for (auto at = log.find(") closed: "); at != std::string::npos; at = log.find(") closed: ", at + 1))
            ++count;
        return count;
    };
    const std::size_t closedBefore = closedChannels();
    {
        boost::asio::ip::tcp::socket leaver(io);
        leaver.open(boost::asio::ip::tcp::v4());
        leaver.set_option(boost::asio::socket_base::receive_buffer_size(64 * 1024));
        leaver.connect({boost::asio::ip::make_address("127.0.0.1"), backend.port()});
        boost::asio::write(leaver, boost::asio::buffer(requests));
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(eventually([&] { return closedChannels() == closedBefore + 1; })) << backend.log();
}

TEST_F(FaultTest, ClientGoneInTheMiddleOfACommandHasItsToolsTornDown)
{
    auto observer = connect(backend);
    {
        auto leaver = connect(backend);
        ASSERT_THAT(leaver->call("Tool", "setupTool", {R"("com.velmora.hil.simulator")", R"("")", "{}"}).values,
                    ElementsAre("", R"("simulator-1")"));
        ASSERT_THAT(leaver->call("Tool", "connect", {R"("simulator-1")"}).values, ElementsAre(""));
        // The upgrade runs for a while; the client does not wait for its reply.
        (void)leaver->send("Tool", "startUpgrade", {R"("simulator-1")", "true"});
        leaver->close();
    }
    EXPECT_TRUE(eventually([&] { return observer->call("Tool", "getChildren", {R"("")"}).values.at(1) == "[]"; }));
    EXPECT_TRUE(eventually([&] { return observer->call("Device", "getChildren", {R"("")"}).values.at(1) == "[]"; }))
        << "the simulated device goes with its tool";
    EXPECT_THAT(observer->call("Tool", "setupTool", {R"("com.velmora.hil.simulator")", R"("")", "{}"}).values,
                ElementsAre("", R"("simulator-2")"));
}

} // namespace
} // namespace hil::e2e
