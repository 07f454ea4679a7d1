// SPDX-License-Identifier: Apache-2.0
// The GDB server's answers to gdb, and to what gdb never sends, against a target with run control
// that runs nothing and a memory of the test's: the packets, the runs and stops it shares with the
// debug targets model, and a connection that misbehaves. gdb itself against QEMU is the e2e
// GdbServerTest's.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/json.hpp>

#include "bundles/gdbserver/GdbServer.h"
#include "core/device/DeviceService.h"
#include "core/devicedescription/DeviceModel.h"
#include "platform/rsp/PacketReader.h"
#include "platform/rsp/RspCodec.h"
#include "tests/fakes/Eventually.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/FakeDevices.h"
#include "tests/fakes/FakeMemory.h"
#include "tests/fakes/RecordingEventSink.h"

namespace hil::gdbserver {
namespace {

using testing::_;
using testing::HasSubstr;
using testing::StartsWith;

constexpr std::uint64_t kRamStart = 0x20000000;
constexpr std::size_t kRamSize = 0x1000;

/// gdb's side of a connection: packets out, replies in (acknowledgements skipped).
class GdbClient {
public:
    explicit GdbClient(int socket) : socket_(socket) {}
    ~GdbClient() { ::close(socket_); }

    /// Sends what the server takes: one that closes the connection midway takes less.
    void sendRaw(const std::string& bytes) { (void)::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void send(const std::string& payload) { sendRaw(rsp::frame(payload)); }
    /// The next packet; nullopt when the server closed the connection. Fails the test on a wait
    /// past `timeout`.
    std::optional<std::string> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (!packets_.empty()) {
                auto packet = std::move(packets_.front());
                packets_.erase(packets_.begin());
                return packet;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd readable{socket_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
                ADD_FAILURE() << "no reply within " << timeout.count() << " ms";
                return std::string("(none)");
            }
            char buffer[4096];
            const auto received = ::recv(socket_, buffer, sizeof buffer, 0);
            if (received <= 0)
                return std::nullopt;
            for (auto& item : reader_.feed(std::string_view(buffer, static_cast<std::size_t>(received)))) {
                if (item.kind == rsp::PacketReader::Kind::Packet)
                    packets_.push_back(std::move(item.payload));
                naks_ += item.kind == rsp::PacketReader::Kind::Nak;
            }
        }
    }
    std::string ask(const std::string& payload)
    {
        send(payload);
        return receive().value_or("(closed)");
    }
    /// True when nothing arrives within `wait`.
    bool silentFor(std::chrono::milliseconds wait)
    {
        pollfd readable{socket_, POLLIN, 0};
        return packets_.empty() && ::poll(&readable, 1, static_cast<int>(wait.count())) == 0;
    }
    int naks() const { return naks_; }

private:
    int socket_;
    rsp::PacketReader reader_{1 << 20};
    std::vector<std::string> packets_;
    int naks_ = 0;
};

/// A flash segment at 0 (2 KiB blocks), RAM, and a segment that overlaps the RAM and is dropped.
class FakeSegment : public DIMemorySegment {
public:
    FakeSegment(std::string type, std::uint64_t start, std::uint64_t size, bool writable = true, bool executable = true)
        : type_(std::move(type)), start_(start), size_(size), writable_(writable), executable_(executable) {}
    std::string getName() const override { return type_; }
    std::uint64_t getStart() const override { return start_; }
    std::uint64_t getSize() const override { return size_; }
    std::uint64_t getMirrorMask() const override { return 0; }
    std::string getType() const override { return type_; }
    bool isReadable() const override { return true; }
    bool isWritable() const override { return writable_; }
    bool isExecutable() const override { return executable_; }
    std::int32_t getWordSize() const override { return 4; }
    std::int32_t getPageSize() const override { return type_ == "flash" ? 0x800 : 0; }
    std::int32_t getSecondPageSize() const override { return 0; }
    DIList<DIMemoryAccessor> getMemoryAccessors() const override { return {}; }

private:
    std::string type_;
    std::uint64_t start_, size_;
    bool writable_, executable_;
};

std::vector<MapArea> sampleMap()
{
    // The last area is RAM by the description that the target does not answer for.
    return {{MapArea::Kind::Flash, 0, 0x10000, 0x800},
            {MapArea::Kind::Ram, kRamStart, kRamSize, 0},
            {MapArea::Kind::Ram, kRamStart + kRamSize, 0x100, 0}};
}

class GdbServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        debugger.addService(devices);
        model = debugging::DebugTargets::of(debugger);
        devices->addContext(device);
        ASSERT_TRUE(fakes::eventually([&] { return model->targetIds().size() == 1; }));
        for (const char* name : {"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9", "r10", "r11", "r12", "sp", "lr",
                                 "pc", "xpsr", "primask"}) {
            registers.push_back(std::make_shared<fakes::FakeRegister>(std::string("tool.dev.") + name, 4));
        }
        registers[13]->value = {0xf0, 0xff, 0x7f, 0x20}; // sp
        registers[15]->value = {0x00, 0x04, 0x00, 0x00}; // pc
        ram.assign(kRamSize, 0);
        ram[0] = 0x2a;
        serveMemory();
        auto served = std::make_shared<ServedTarget>();
        served->id = "tool.dev";
        served->model = model;
        served->device = device;
        served->memory = memory;
        // In any order the target lists them.
        served->registers = registerLayout(std::vector<std::shared_ptr<IRegistersContext>>(registers.rbegin(), registers.rend()));
        served->targetXml = targetXml(served->registers);
        served->memoryMap = sampleMap();
        target = served;
        server = std::make_unique<GdbServer>(target, "127.0.0.1", 0);
    }

    /// The memory answers in RAM and fails elsewhere, as a target's does.
    void serveMemory()
    {
        const auto inRam = [](std::uint64_t address, std::int64_t count) {
            return std::pair<std::uint64_t, std::uint64_t>{
                address, address >= kRamStart && address < kRamStart + kRamSize
                             ? std::min<std::uint64_t>(static_cast<std::uint64_t>(count), kRamStart + kRamSize - address)
                             : 0};
        };
        const auto errorsFor = [](std::uint64_t address, std::int64_t count, std::uint64_t good, MemoryErrorMapPtr& errors) {
            if (good < static_cast<std::uint64_t>(count))
                errors = std::make_shared<fakes::FakeErrorMap>(
                    address, std::vector<std::pair<int, std::uint32_t>>{{0, good}, {14, static_cast<std::uint32_t>(count - good)}});
        };
        ON_CALL(*memory, readMemory(_, _, _, _, _, _, _, _))
            .WillByDefault([=, this](std::uint64_t address, int, std::vector<std::uint8_t>& bytes, std::uint64_t offset, std::int64_t count,
                                     int, tcf::IIntermediateResult*, MemoryErrorMapPtr& errors) {
                const auto [from, good] = inRam(address, count);
                std::lock_guard lock(ramMutex);
                if (good > 0)
                    std::copy_n(ram.begin() + static_cast<std::ptrdiff_t>(from - kRamStart), good, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
                errorsFor(address, count, good, errors);
            });
        ON_CALL(*memory, writeMemory(_, _, _, _, _, _, _, _))
            .WillByDefault([=, this](std::uint64_t address, int, std::vector<std::uint8_t>& bytes, std::uint64_t offset, std::int64_t count,
                                     int, tcf::IIntermediateResult*, MemoryErrorMapPtr& errors) {
                const auto [from, good] = inRam(address, count);
                std::lock_guard lock(ramMutex);
                if (good > 0)
                    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), good, ram.begin() + static_cast<std::ptrdiff_t>(from - kRamStart));
                errorsFor(address, count, good, errors);
            });
    }

    // The target's memory, shared with the session's thread (which reads ahead and posts writes).
    void poke(std::size_t offset, std::uint8_t value)
    {
        std::lock_guard lock(ramMutex);
        ram[offset] = value;
    }
    std::string hexAt(std::size_t offset, std::size_t length)
    {
        std::lock_guard lock(ramMutex);
        return rsp::toHex(ram.data() + offset, length);
    }

    int connectToServer() const
    {
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(server->port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
        return socket;
    }

    /// A gdb past the greeting: features told, acknowledgements off.
    std::unique_ptr<GdbClient> gdb()
    {
        auto client = std::make_unique<GdbClient>(connectToServer());
        EXPECT_THAT(client->ask("qSupported:multiprocess+;swbreak+;hwbreak+;vContSupported+"), StartsWith("PacketSize=10000;"));
        EXPECT_EQ(client->ask("QStartNoAckMode"), "OK");
        return client;
    }

    fakes::ScopedEventRecorder recorder;
    fakes::FakeDebugger debugger;
    std::shared_ptr<DeviceService> devices = std::make_shared<DeviceService>(debugger);
    std::shared_ptr<fakes::FakeRunControlDevice> device = std::make_shared<fakes::FakeRunControlDevice>("tool.dev");
    std::shared_ptr<debugging::DebugTargets> model;
    std::vector<std::shared_ptr<fakes::FakeRegister>> registers;
    std::shared_ptr<testing::NiceMock<fakes::FakeMemoryContext>> memory =
        std::make_shared<testing::NiceMock<fakes::FakeMemoryContext>>("tool.dev.base");
    std::mutex ramMutex;
    std::vector<std::uint8_t> ram;
    std::shared_ptr<const ServedTarget> target;
    std::unique_ptr<GdbServer> server;
};

TEST(GdbTargetXml, PutsTheCoreRegistersFirstAndMapsOnlyTheProgramsSpace)
{
    std::vector<std::shared_ptr<IRegistersContext>> listed;
    for (const char* name : {"control", "pc", "r0", "xpsr", "sp", "r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9",
                             "r10", "r11", "r12", "lr"})
        listed.push_back(std::make_shared<fakes::FakeRegister>(std::string("d.") + name, 4));
    const auto layout = registerLayout(listed);
    ASSERT_EQ(layout.size(), 18u);
    EXPECT_EQ(layout[0].name, "r0");
    EXPECT_EQ(layout[15].name, "pc");
    EXPECT_EQ(layout[16].name, "xpsr");
    EXPECT_EQ(layout[17].name, "control");
    const auto xml = targetXml(layout);
    EXPECT_THAT(xml, HasSubstr("<architecture>arm</architecture>"));
    EXPECT_THAT(xml, HasSubstr(R"(<feature name="org.gnu.gdb.arm.m-profile">)"));
    EXPECT_THAT(xml, HasSubstr(R"(<reg name="pc" bitsize="32" regnum="15" type="code_ptr"/>)"));
    EXPECT_THAT(xml, HasSubstr(R"(<reg name="control" bitsize="32" regnum="17" type="int"/>)"));
    // Without the whole core set there is no ARM feature to claim.
    const auto partial = targetXml(registerLayout({listed[0], listed[1]}));
    EXPECT_THAT(partial, testing::Not(HasSubstr("m-profile")));
    EXPECT_THAT(partial, HasSubstr(R"(<reg name="pc" bitsize="32" regnum="0")"));

    EXPECT_EQ(memoryMapXml(sampleMap()).find(R"(<memory type="flash" start="0x0" length="0x10000"><property name="blocksize">0x800</property></memory>)") != std::string::npos, true);
    EXPECT_THAT(memoryMapXml(sampleMap()), HasSubstr(R"(<memory type="ram" start="0x20000000" length="0x1000"/>)"));
}

TEST_F(GdbServerTest, AnswersEachPacketOrRefusesItWithTheProtocolsError)
{
    const auto client = gdb();
    const std::string allRegisters = std::string(13 * 8, '0') + "f0ff7f20" + "00000000" + "00040000" + std::string(16, '0');
    const struct {
        const char* packet;
        std::string reply;
    } cases[] = {
        {"g", allRegisters},
        {"G00", "E16"},
        {"p0f", "00040000"},
        {"p12", "E16"},
        {"pzz", "E01"},
        {"P0=01000000", "OK"},
        {"P0=01", "E16"},
        {"m20000000,2", "2a00"},
        {"m20000ffe,4", "0000"}, // the part that answers
        {"m30000000,4", "E0e"},
        {"mfffffffe,4", "E16"}, // past the 32-bit bus
        {"m20000000,8001", "E16"},
        {"m20000000", "E01"},
        {"M20000004,2:beef", "OK"},
        {"M20000004,2:be", "E16"},
        {"X20000000,0:", "OK"},
        {"X30000000,1:a", "E0e"},
        // Into RAM the write follows its "OK"; when it fails, the next packet is told.
        {"X20001000,1:a", "OK"},
        {"qC", "E0e"},
        {"Z5,400,2", ""},
        {"Z0,zz,2", "E01"},
        {"z0,400,2", "OK"},
        {"vFlashErase:20000000,800", "E16"},
        {"vFlashWrite:10000:ab", "E16"},
        {"vFlashDone", "OK"},
        {"vCont?", "vCont;c;C;s;S;t"},
        {"vCont;x", "E01"},
        {"qXfer:features:read:other.xml:0,10", "E00"},
        {"qXfer:features:read:target.xml:100000,10", "l"},
        {"qXfer:exec-file:read::0,10", ""},
        {"qC", "QC1"},
        {"qfThreadInfo", "m1"},
        {"qsThreadInfo", "l"},
        {"qAttached:1", "1"},
        {"Hg0", "OK"},
        {"qSomethingNew", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(client->ask(c.packet), c.reply) << c.packet;
    EXPECT_EQ(registers[0]->writes.size(), 1u);
    EXPECT_EQ(hexAt(4, 2), "beef");

    // Descriptions come in slices until the last.
    const auto first = client->ask("qXfer:features:read:target.xml:0,20");
    EXPECT_EQ(first, "m" + target->targetXml.substr(0, 0x20));
    const auto map = client->ask("qXfer:memory-map:read::0,fff");
    EXPECT_EQ(map, "l" + memoryMapXml(target->memoryMap));
    EXPECT_CALL(*memory, fillMemory(0, 1, _, 0x800, _, _, _));
    EXPECT_EQ(client->ask("vFlashErase:0,800"), "OK");
}

TEST_F(GdbServerTest, ShareRunsAndStopsWithTheModelAndPlantsAsTheGdbServer)
{
    const auto client = gdb();
    EXPECT_EQ(client->ask("?"), "T05" "0f:00040000;0d:f0ff7f20;thread:1;");
    EXPECT_EQ(client->ask("Z0,400,2"), "OK");
    EXPECT_EQ(client->ask("Z2,20000000,4"), "OK");
    const auto ids = model->breakpointIds();
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(model->breakpointStatus(ids[0]).at("PlantedBy"), boost::json::value(server->name()));

    // gdb's continue runs the target; its breakpoint's stop ends the run.
    client->send("c");
    ASSERT_TRUE(fakes::eventually([&] { return device->isRunning(); }));
    EXPECT_TRUE(client->silentFor(std::chrono::milliseconds(50)));
    device->stop({StopReason::Breakpoint, 0x400, {}, 5, "breakpoint"});
    EXPECT_EQ(client->receive(), "T05swbreak:;0f:00040000;0d:f0ff7f20;thread:1;");
    // A watchpoint names its address and kind.
    client->send("vCont;c");
    ASSERT_TRUE(fakes::eventually([&] { return device->isRunning(); }));
    device->stop({StopReason::Watchpoint, std::nullopt, 0x20000000, 5, "watchpoint"});
    EXPECT_THAT(client->receive().value_or(""), StartsWith("T05watch:20000000;"));
    // Another front-end's halt ends gdb's run too; so does gdb's interrupt.
    client->send("c");
    ASSERT_TRUE(fakes::eventually([&] { return device->isRunning(); }));
    model->suspend("tool.dev");
    EXPECT_THAT(client->receive().value_or(""), StartsWith("T02"));
    client->send("c");
    ASSERT_TRUE(fakes::eventually([&] { return device->isRunning(); }));
    client->sendRaw("\x03");
    EXPECT_THAT(client->receive().value_or(""), StartsWith("T02"));
    EXPECT_THAT(client->ask("s"), StartsWith("T05"));

    // Detaching takes gdb's breakpoints away and lets the target run.
    EXPECT_EQ(client->ask("D;1"), "OK");
    EXPECT_EQ(client->receive(), std::nullopt);
    EXPECT_TRUE(model->breakpointIds().empty());
    EXPECT_TRUE(fakes::eventually([&] { return device->isRunning(); }));
}

TEST_F(GdbServerTest, KeepsWhatItReadOnlyUntilMemoryIsWrittenOrTheTargetMoves)
{
    const auto client = gdb();
    // Words near the PC, and a dump in blocks: each read once from the target.
    EXPECT_EQ(client->ask("m20000010,4"), hexAt(0x10, 4));
    EXPECT_EQ(client->ask("m20000000,400"), hexAt(0, 0x400));
    EXPECT_EQ(client->ask("m20000400,400"), hexAt(0x400, 0x400));
    poke(0x10, 0x11);
    poke(0x800, 0x22);
    EXPECT_EQ(client->ask("m20000010,4"), "00000000") << "kept until something writes";
    // Anyone's write through the target's memory, and any run, makes the next read fresh.
    memory->memoryChanged(memory, {{kRamStart + 0x800, 1}});
    EXPECT_EQ(client->ask("m20000800,400"), hexAt(0x800, 0x400)) << "the block read ahead is dropped";
    EXPECT_EQ(client->ask("m20000010,4"), hexAt(0x10, 4));
    poke(0x10, 0x33);
    poke(0xc00, 0x44);
    EXPECT_THAT(client->ask("s"), StartsWith("T05"));
    EXPECT_EQ(client->ask("m20000010,4"), hexAt(0x10, 4));
    EXPECT_EQ(client->ask("m20000c00,400"), hexAt(0xc00, 0x400));
}

TEST_F(GdbServerTest, ServesOneGdbAtATimeAndSurvivesWhatIsNotTheProtocol)
{
    auto first = gdb();
    GdbClient second(connectToServer());
    EXPECT_THAT(second.ask("qSupported"), HasSubstr("serves one gdb at a time"));
    EXPECT_EQ(second.receive(), std::nullopt);

    first.reset(); // gone without a word: the next gdb is welcome
    ASSERT_TRUE(fakes::eventually([&] { return server->describe().at("Client").is_null(); }));
    // A bad checksum is answered '-' while acknowledgements are on.
    GdbClient again(connectToServer());
    again.sendRaw("$qC#00");
    EXPECT_EQ(again.ask("qC"), "QC1");
    EXPECT_EQ(again.naks(), 1);
    // A 10 MB packet, longer than any gdb sends, closes the connection before its end.
    again.sendRaw("$X20000000,a00000:" + std::string(10 << 20, 'a'));
    EXPECT_EQ(again.receive(), std::nullopt);
    EXPECT_EQ(gdb()->ask("qC"), "QC1") << "the server takes the next gdb";
}

TEST_F(GdbServerTest, TellsAGdbThatWaitsThatTheTargetWentAndCloses)
{
    const auto client = gdb();
    client->send("c");
    ASSERT_TRUE(fakes::eventually([&] { return device->isRunning(); }));
    devices->removeContext(device);
    EXPECT_EQ(client->receive(), "X09");
    EXPECT_EQ(client->receive(), std::nullopt);
}

} // namespace
} // namespace hil::gdbserver
