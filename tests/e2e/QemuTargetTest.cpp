// SPDX-License-Identifier: Apache-2.0
// A real Cortex-M3 behind QEMU's GDB stub, driven through the back-end over TCF: the test
// firmware counts in the word at 0x20000000 and prints on UART0 through its hook at 0x400.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/json.hpp>

#include "bundles/gdbremote/QemuProcess.h"
#include "platform/common/Base64.h"
#include "tests/e2e/EventLog.h"
#include "tests/fakes/Eventually.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using namespace std::chrono_literals;

const std::string kTool = R"("gdbremote-1")";
const std::string kDevice = "gdbremote-1.MPS2-AN385";
const std::string kMemory = "\"" + kDevice + ".base\"";
constexpr std::uint32_t kCounter = 0x20000000;
constexpr std::uint32_t kTickHook = 0x400;

bool processExists(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

std::uint16_t freeUdpPort()
{
    boost::asio::io_context io;
    using boost::asio::ip::udp;
    return udp::socket(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0)).local_endpoint().port();
}

/// The sockets a process holds open, by their inodes ("socket:[N]").
std::set<std::string> socketsOf(pid_t pid)
{
    std::set<std::string> sockets;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const auto target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.rfind("socket:", 0) == 0)
            sockets.insert(target);
    }
    return sockets;
}

std::string quoted(const std::string& text) { return boost::json::serialize(boost::json::value(text)); }

class QemuTargetTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(HIL_FIRMWARE_ELF).empty() || gdbremote::QemuProcess::executable().empty())
            GTEST_SKIP() << "needs qemu-system-arm and arm-none-eabi-gcc";
        // Discovery on, on a port of its own: its socket is one QEMU must not take along.
        auto options = BackendProcess::withGdbRemote(directory.path());
        options.insert(options.end(), {"--discovery", "on", "--discovery-port", std::to_string(freeUdpPort())});
        backend = std::make_unique<BackendProcess>(options);
        client = connect(*backend);
        events.attach(*client);
        const std::string connection = boost::json::serialize(boost::json::object{{"Kernel", HIL_FIRMWARE_ELF}});
        ASSERT_THAT(client->call("Tool", "setupTool", {R"("com.velmora.hil.gdbremote")", R"("com.velmora.hil.connection.qemu")",
                                                       connection})
                        .values,
                    ElementsAre("", kTool));
        ASSERT_THAT(client->call("Tool", "connect", {kTool}).values, ElementsAre(""));
    }

    std::vector<std::uint8_t> read(std::uint32_t address, int count)
    {
        const auto reply = client->call("Memory", "get", {kMemory, std::to_string(address), "1", std::to_string(count), "0"});
        EXPECT_EQ(reply.values.size(), 3u);
        EXPECT_EQ(reply.values.at(2), "[]") << "errors reading 0x" << std::hex << address;
        std::vector<std::uint8_t> bytes;
        base64_decode(boost::json::parse(reply.values.at(0)).as_string(), bytes);
        return bytes;
    }
    static std::uint32_t word(const std::vector<std::uint8_t>& bytes, std::size_t at = 0)
    {
        return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 | static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
    }
    std::uint32_t readWord(std::uint32_t address) { return word(read(address, 4)); }
    std::uint32_t registerValue(const std::string& name)
    {
        const auto reply = client->call("Registers", "get", {quoted(kDevice + "." + name)});
        EXPECT_EQ(reply.values.at(0), "");
        std::vector<std::uint8_t> bytes;
        base64_decode(boost::json::parse(reply.values.at(1)).as_string(), bytes);
        return word(bytes);
    }
    /// The status slot of a special operation's reply.
    std::string special(const std::string& operation, const std::string& parameters = "{}")
    {
        return client->call("Tool", "SpecialOperation", {kTool, quoted(operation), parameters}).values.at(0);
    }
    pid_t qemuPid()
    {
        const auto tool = boost::json::parse(client->call("Tool", "getContext", {kTool}).values.at(1)).as_object();
        return static_cast<pid_t>(tool.at("QemuPid").to_number<std::int64_t>());
    }
    bool heard(const std::string& message, std::chrono::milliseconds timeout = 5s)
    {
        return events.waitForWhole("Message message " + quoted(kDevice + ".messages") + " \"MPS2-AN385\" " + quoted(message),
                                   timeout);
    }

    fakes::TempDirectory directory;
    std::unique_ptr<BackendProcess> backend;
    std::unique_ptr<tcf::TcfClient> client;
    EventLog events;
};

TEST_F(QemuTargetTest, FirmwareRunsHaltsStepsAndStopsAtABreakpointAndQemuStopsWhenTheClientLeaves)
{
    // The description's one space, and the server's registers.
    EXPECT_THAT(client->call("Memory", "getChildren", {quoted(kDevice)}).values, ElementsAre("", "[" + kMemory + "]"));
    const auto registers = client->call("Registers", "getChildren", {quoted(kDevice)}).values.at(1);
    for (const char* name : {"r0", "r12", "sp", "lr", "pc", "xpsr"})
        EXPECT_THAT(registers, HasSubstr(quoted(kDevice + "." + name)));

    // SRAM written and read back, across several packets.
    std::vector<std::uint8_t> pattern(10000);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<std::uint8_t>(i * 13 + 7);
    EXPECT_THAT(client->call("Memory", "set", {kMemory, "536875008", "1", "10000", "0", quoted(base64_encode(pattern))}).values,
                ElementsAre("", "[]"));
    EXPECT_TRUE(events.waitForWhole("Memory memoryChanged " + kMemory + R"( [{"addr":536875008,"size":10000}])"));
    EXPECT_EQ(read(0x20001000, 10000), pattern);

    // After a reset, SP and PC come from the firmware's vector table.
    EXPECT_EQ(special("reset"), "");
    const auto vectors = read(0, 8);
    EXPECT_EQ(registerValue("sp"), word(vectors, 0));
    EXPECT_EQ(registerValue("pc"), word(vectors, 4) & ~1u);

    // Running: the greeting arrives and the counter grows; halted, it stands still.
    EXPECT_EQ(special("resume"), "");
    EXPECT_TRUE(heard("hilcore test firmware ready"));
    EXPECT_TRUE(heard("hilcore test firmware: semihosting works"));
    EXPECT_TRUE(events.waitUntilWhole([](const std::string& event) { return event.find("\"tick ") != std::string::npos; }, 10s));
    EXPECT_THAT(client->call("Memory", "get", {kMemory, "0", "1", "4", "0"}).values.at(0), HasSubstr("running"));
    EXPECT_EQ(special("halt"), "");
    EXPECT_TRUE(heard("Target halted"));
    const auto counted = readWord(kCounter);
    EXPECT_GT(counted, 0u);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(readWord(kCounter), counted);

    const auto pc = registerValue("pc");
    EXPECT_EQ(special("step"), "");
    EXPECT_TRUE(heard("Target stepped"));
    EXPECT_NE(registerValue("pc"), pc);

    EXPECT_EQ(special("breakpoint", R"({"Address":"0x400"})"), "");
    EXPECT_EQ(special("resume"), "");
    EXPECT_TRUE(heard("Target stopped: breakpoint", 10s));
    EXPECT_EQ(registerValue("pc"), kTickHook);
    EXPECT_EQ(special("unbreakpoint", R"({"Address":1024})"), "");

    // The counter is written all the time: a watchpoint on it stops the firmware there.
    EXPECT_EQ(special("watchpoint", R"({"Address":"0x20000000","Size":4})"), "");
    EXPECT_EQ(special("resume"), "");
    EXPECT_TRUE(heard("Target stopped: watchpoint at 0x20000000"));
    EXPECT_EQ(special("unwatchpoint", R"({"Address":"0x20000000"})"), "");
    EXPECT_THAT(special("watchpoint"), HasSubstr("watchpoint needs an"));

    // A monitor command's output is the reply.
    EXPECT_THAT(client->call("Tool", "genericStringCommand", {kTool, R"("info registers")"}).values.at(1), HasSubstr("R00="));
    // QEMU's stub has no memory map and this board's code memory is RAM: nothing to erase.
    EXPECT_THAT(client->call("Device", "erase", {quoted(kDevice)}).values.at(0), HasSubstr("declares flash"));

    // QEMU holds none of the back-end's sockets (its listener, its clients' connections).
    const pid_t qemu = qemuPid();
    ASSERT_TRUE(processExists(qemu));
    const auto ours = socketsOf(backend->pid());
    for (const auto& socket : socketsOf(qemu))
        EXPECT_FALSE(ours.count(socket)) << socket << " is the back-end's";
    // The client leaving stops its QEMU.
    client->close();
    EXPECT_TRUE(fakes::eventually([&] { return !processExists(qemu); }, 10s));
}

TEST_F(QemuTargetTest, KilledQemuFailsTheReadLosesTheToolAndOthersAreServed)
{
    EXPECT_EQ(special("resume"), "");
    EXPECT_EQ(special("halt"), "");
    const pid_t qemu = qemuPid();
    ASSERT_TRUE(processExists(qemu));
    // 8 MiB of SRAM: hundreds of packets, and QEMU killed while they go.
    auto reading = client->send("Memory", "get", {kMemory, "536870912", "1", "8388608", "0"});
    std::this_thread::sleep_for(30ms);
    const auto killed = std::chrono::steady_clock::now();
    ::kill(qemu, SIGKILL);
    ASSERT_EQ(reading.wait_for(5s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 4s);
    EXPECT_THAT(reading.get().values.at(0), HasSubstr("is lost: the server closed the connection"));
    EXPECT_TRUE(events.waitUntil([](const std::string& event) { return event.rfind("Tool connectionLost", 0) == 0; }));
    EXPECT_TRUE(events.waitFor("Device contextRemoved [" + quoted(kDevice) + "]"));
    std::this_thread::sleep_for(200ms);
    const auto heard = events.events();
    EXPECT_EQ(std::count_if(heard.begin(), heard.end(),
                            [](const std::string& event) { return event.rfind("Tool connectionLost", 0) == 0; }),
              1);
    auto other = connect(*backend);
    EXPECT_THAT(other->call("Tool", "getContext", {kTool}).values.at(1), HasSubstr(R"("State":"Idle")"));
}

} // namespace
} // namespace hil::e2e
