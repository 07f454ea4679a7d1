// SPDX-License-Identifier: Apache-2.0
// The GDB remote protocol client and target layer against a scripted server.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include <boost/json/serialize.hpp>

#include "bundles/gdbremote/GdbConnections.h"
#include "bundles/gdbremote/GdbDevice.h"
#include "bundles/gdbremote/GdbTarget.h"
#include "bundles/gdbremote/QemuProcess.h"
#include "tests/fakes/FakeGdbServer.h"
#include "tests/fakes/TempDirectory.h"
#include "tests/fakes/Thrown.h"

namespace hil::gdbremote {
namespace {

using fakes::FakeGdbServer;
using Behaviour = FakeGdbServer::Behaviour;
using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Pair;
using namespace std::chrono_literals;

const RspClient::Options kQuick{300ms, 1u << 20};

std::unique_ptr<RspClient> clientOf(const FakeGdbServer& server, RspClient::Options options = kQuick)
{
    return std::make_unique<RspClient>("127.0.0.1", server.port(), options);
}

std::string text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

/// An `answer` that gives `reply` to the packets starting with `prefix` and passes the others.
auto replying(const std::string& prefix, const std::string& reply)
{
    return [=](const std::string& packet) { return packet.rfind(prefix, 0) == 0 ? std::optional(reply) : std::nullopt; };
}

// --- the codec -------------------------------------------------------------------------------

TEST(RspCodec, FramesEscapesAndDecodes)
{
    EXPECT_EQ(rsp::frame("g"), "$g#67");
    EXPECT_EQ(rsp::frame("a$b#c}d*"), "$a}\x04" "b}\x03" "c}]d}\x0a#ec");
    struct Case {
        std::string received, decoded;
    };
    for (const auto& [received, decoded] : std::vector<Case>{
             {"0* ", "0000"},          // ' ' is 32: three more
             {"ab*\"c", "abbbbbbc"},   // '"' is 34: five more
             {"}\x03}\x04", "#$"},
             {"x*}", "x" + std::string(0x7d - 29, 'x')},
         })
        EXPECT_EQ(rsp::decodePayload(received), decoded) << received;
    EXPECT_THROW(rsp::decodePayload("*!"), std::runtime_error);
    EXPECT_THROW(rsp::decodePayload("a*\x05"), std::runtime_error);
    EXPECT_EQ(rsp::fromHex("48690a").value(), "Hi\n");
    EXPECT_FALSE(rsp::fromHex("4").has_value());
    EXPECT_FALSE(rsp::fromHex("zz").has_value());
    EXPECT_FALSE(rsp::parseHexNumber("12345678901234567").has_value());
}

TEST(RspCodec, TellsOutputStopAndErrorRepliesApart)
{
    struct Case {
        std::string packet;
        bool output, stop, error;
        std::string described;
    };
    for (const auto& c : std::vector<Case>{
             {"O48690a", true, false, false, ""},
             {"OK", false, false, false, ""},
             {"O123", false, false, false, ""},
             {"E14", false, false, true, ""},
             {"S05", false, true, false, "breakpoint"},
             {"T02thread:p01.01;", false, true, false, "halted (signal 2)"},
             {"T05thread:p01.01;watch:20000004;", false, true, false, "watchpoint at 0x20000004"},
             {"T05swbreak:;thread:p01.01;", false, true, false, "breakpoint"},
             {"W00", false, true, false, "exited with status 0"},
             {"X09", false, true, false, "killed by signal 9"},
             {"Tzz", false, false, false, ""},
         }) {
        EXPECT_EQ(rsp::isOutputPacket(c.packet), c.output) << c.packet;
        EXPECT_EQ(rsp::isStopReply(c.packet), c.stop) << c.packet;
        EXPECT_EQ(rsp::isErrorReply(c.packet), c.error) << c.packet;
        if (c.stop) {
            EXPECT_EQ(rsp::parseStopReply(c.packet)->describe(), c.described) << c.packet;
        }
    }
    EXPECT_THAT(rsp::parseFeatures("PacketSize=1000;qXfer:features:read+;multiprocess-;x?"),
                ElementsAre(Pair("PacketSize", "1000"), Pair("multiprocess", "-"), Pair("qXfer:features:read", "+"),
                            Pair("x", "?")));
}

TEST(RspCodec, SaysRequestsInWordsAndFindsARefusalInMonitorOutput)
{
    for (const auto& [packet, words] : std::vector<std::pair<std::string, std::string>>{
             {"M400,2:abcd", "a write of 2 bytes at 0x400"},
             {"vFlashErase:8000000,800", "a flash erase of 2048 bytes at 0x8000000"},
             {"p1f", "a read of register 31"},
             {"P0=01000000", "a write of register 0"},
             {"Z1,400,2", "setting a hardware breakpoint at 0x400"},
             {"z4,20000004,4", "clearing an access watchpoint at 0x20000004"},
             {"qRcmd,7265736574", "the request qRcmd"},
             {"mzz,1", "the request mzz"},
         })
        EXPECT_EQ(rsp::describeRequest(packet), words);
    EXPECT_EQ(rsp::monitorRefusal("unknown command: 'reset'\r\n"), "unknown command: 'reset'");
    EXPECT_EQ(rsp::monitorRefusal("Reset done\ntarget halted\n"), std::nullopt);
    EXPECT_EQ(rsp::monitorRefusal("ok\nError: invalid command name \"reset\"\n"), "Error: invalid command name \"reset\"");
}

// --- target descriptions ---------------------------------------------------------------------

TEST(TargetDescription, FollowsIncludesAndNumbersOn)
{
    const std::map<std::string, std::string> annexes{
        {"target.xml", R"(<?xml version="1.0"?><!DOCTYPE target SYSTEM "gdb-target.dtd"><target>)"
                       R"(<xi:include href="core.xml"/><feature name="fpu"><reg name="s0" bitsize="32" regnum="40" group="float"/>)"
                       R"(<reg name="s1" bitsize="32"/></feature></target>)"},
        {"core.xml", R"(<feature name="core"><reg name="r0" bitsize="32"/><reg name="xpsr" bitsize="32" regnum="25"/></feature>)"}};
    const auto registers = parseTargetDescription([&](const std::string& annex) { return annexes.at(annex); });
    ASSERT_EQ(registers.size(), 4u);
    std::vector<std::pair<std::string, int>> numbered;
    for (const auto& reg : registers)
        numbered.emplace_back(reg.name, reg.number);
    EXPECT_THAT(numbered, ElementsAre(std::pair{"r0", 0}, std::pair{"xpsr", 25}, std::pair{"s0", 40}, std::pair{"s1", 41}));
    EXPECT_EQ(registers[2].group, "float");
}

TEST(TargetDescription, RefusesWhatCannotBeARegisterList)
{
    std::string thousands = "<target><feature>";
    for (int i = 0; i < 10000; ++i)
        thousands += "<reg name=\"r" + std::to_string(i) + "\" bitsize=\"32\"/>";
    thousands += "</feature></target>";
    struct Case {
        std::string xml, says;
    };
    for (const auto& [xml, says] : std::vector<Case>{
             {"<target><reg bitsize=\"32\"/></target>", "without a name"},
             {"<target><reg name=\"r0\" bitsize=\"0\"/></target>", "has 0 bits"},
             {"<target><reg name=\"r0\" bitsize=\"wide\"/></target>", "is not a number"},
             {thousands, "more than 4096 registers"},
             {"<target><xi:include href=\"target.xml\"/></target>", "nested deeper than 8"},
             {"<target", "not XML"},
             {"<!DOCTYPE t [<!ENTITY a \"b\">]><target/>", "declares entities"},
         }) {
        EXPECT_THAT([&] { parseTargetDescription([&](const std::string&) { return xml; }); },
                    testing::ThrowsMessage<std::runtime_error>(HasSubstr(says)))
            << xml.substr(0, 60);
    }
    std::string wide = "<target>";
    for (int i = 0; i < 70; ++i)
        wide += "<xi:include href=\"f" + std::to_string(i) + ".xml\"/>";
    wide += "</target>";
    EXPECT_THAT([&] { parseTargetDescription([&](const std::string& annex) { return annex == "target.xml" ? wide : "<feature/>"; }); },
                testing::ThrowsMessage<std::runtime_error>(HasSubstr("more than 64 annexes")));
    EXPECT_THAT(parseMemoryMap(R"(<memory-map><memory type="flash" start="0x8000000" length="0x10000">)"
                               R"(<property name="blocksize">0x800</property></memory><memory type="ram" start="0x20000000" length="0x5000"/></memory-map>)"),
                ElementsAre(testing::Field(&MemoryArea::blockSize, 0x800u), testing::Field(&MemoryArea::type, "ram")));
}

// --- the packet layer ------------------------------------------------------------------------

TEST(RspClient, NegotiatesNoAckModeDecodesRunLengthsRecoversFromBadChecksumsAndTakesBothMonitorStyles)
{
    FakeGdbServer noAck({.offerNoAck = true});
    auto client = clientOf(noAck);
    EXPECT_TRUE(client->noAckMode());
    EXPECT_EQ(client->packetSize(), 0x400u);
    EXPECT_EQ(client->request("m0,4"), "00000000");
    EXPECT_EQ(noAck.acksAfterNoAck(), 0);
    EXPECT_FALSE(clientOf(FakeGdbServer())->noAckMode());
    // "0*'": a zero and ten more ("'" is 39).
    EXPECT_EQ(clientOf(FakeGdbServer({.answer = replying("qRle", "0*'")}))->request("qRle"), std::string(11, '0'));

    // The first reply arrives damaged: the client answers '-' and takes the resent one.
    FakeGdbServer damaged({.corruptReplies = 1});
    client = clientOf(damaged);
    EXPECT_EQ(client->request("m0,2"), "0000");
    EXPECT_FALSE(client->lost());

    // Monitor output comes in `O` packets or in one hex reply.
    EXPECT_EQ(clientOf(FakeGdbServer())->monitor("reset halt"), "did reset halt\n");
    EXPECT_EQ(clientOf(FakeGdbServer({.answer = replying("qRcmd", rsp::toHex("did it\n"))}))->monitor("x"), "did it\n");
    EXPECT_THROW(clientOf(FakeGdbServer({.answer = replying("qRcmd", "E05")}))->monitor("x"), RspRefused);
}

TEST(RspClient, SilentOrRefusingOrClosingServersAreLostOnceInBoundedTime)
{
    struct Case {
        const char* name;
        Behaviour behaviour;
        std::string says;
        // Ten megabytes take a while under a sanitizer: the size, not the clock, must end it.
        std::chrono::milliseconds timeout = 300ms;
    };
    for (const auto& c : std::vector<Case>{
             {"reply never comes", {.silentOn = {"m"}}, "no reply to a read of 4 bytes at 0x0 within 300 ms"},
             {"closes mid-transfer", {.closeAfter = 5}, "closed the connection"},
             {"10 MB packet", {.answer = replying("m", std::string(10'000'000, 'a'))}, "longer than 1048576 bytes", 10s},
         }) {
        SCOPED_TRACE(c.name);
        FakeGdbServer server(c.behaviour);
        auto client = clientOf(server, {c.timeout, 1u << 20});
        std::vector<std::string> reasons;
        client->setLostHandler([&](const std::string& why) { reasons.push_back(why); });
        const auto started = std::chrono::steady_clock::now();
        try {
            for (int i = 0; i < 10; ++i)
                client->request("m0,4");
            ADD_FAILURE() << "no loss";
        } catch (const TargetLostError& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.says));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, c.timeout + 2s);
        EXPECT_THROW(client->request("?"), TargetLostError);
        EXPECT_THAT(reasons, ElementsAre(HasSubstr(c.says)));
    }
}

TEST(RspClient, NakedOrSilentOrForeignServersAreNotConnected)
{
    struct Case {
        Behaviour behaviour;
        std::string says;
    };
    for (const auto& [behaviour, says] : std::vector<Case>{
             {{.nakEverything = true}, "refused (NAK) 3 times"},
             {{.silentOn = {"qSupported"}}, "is not a GDB server"},
             {{.answer = replying("", "")}, "does not answer qSupported"},
         }) {
        FakeGdbServer server(behaviour);
        EXPECT_THAT([&] { clientOf(server); }, testing::ThrowsMessage<TargetLostError>(HasSubstr(says)));
    }
    EXPECT_THAT([] { RspClient("127.0.0.1", FakeGdbServer::closedPort(), kQuick); },
                testing::ThrowsMessage<TargetLostError>(AllOf(HasSubstr("Cannot connect"), HasSubstr("refused"))));
}

TEST(RspClient, WhileRunningOnlyTheInterruptIsSent)
{
    FakeGdbServer server;
    auto client = clientOf(server);
    std::promise<std::string> output; // a second call would throw
    client->setOutputHandler([&](const std::string& text) { output.set_value(text); });
    std::atomic<int> stops{0};
    client->setStopHandler([&](const rsp::StopReply&) { ++stops; });
    client->resume("vCont;c"); // the fake prints "Hi\n" as it runs
    EXPECT_TRUE(client->running());
    EXPECT_EQ(fakes::errorText<StateError>([&] { client->request("m20000000,10"); }),
              "The target is running: a read of 16 bytes at 0x20000000 needs it halted (special halt, then try again)");
    client->interrupt();
    EXPECT_FALSE(client->running());
    EXPECT_EQ(server.interrupts(), 1);
    EXPECT_EQ(stops.load(), 1);
    EXPECT_EQ(client->request("?"), "S05");
    EXPECT_EQ(output.get_future().get(), "Hi\n");
    // Nothing but the interrupt went out between the resume and the stop.
    const auto packets = server.packets();
    const auto resumed = std::find(packets.begin(), packets.end(), "vCont;c");
    ASSERT_NE(resumed, packets.end());
    EXPECT_EQ(*(resumed + 1), "?");
}

// --- the target layer ------------------------------------------------------------------------

TEST(GdbTarget, WritesFitThePacketSizeAndFallBackFromXToM)
{
    for (const bool binary : {true, false}) {
        FakeGdbServer server(binary ? Behaviour{} : Behaviour{.answer = replying("X", "")}); // else `M`
        GdbTarget target(clientOf(server));
        std::vector<std::uint8_t> bytes(3000);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>("$#}*ab"[i % 6]); // half of them need an escape
        EXPECT_TRUE(target.write(0x1000, bytes.data(), bytes.size()).empty());
        EXPECT_EQ(server.memory(0x1000, bytes.size()), bytes);
        for (const auto& packet : server.packets())
            EXPECT_LT(rsp::frame(packet).size(), 0x400u) << packet.substr(0, 20);
        std::vector<std::uint8_t> back(bytes.size());
        EXPECT_TRUE(target.read(0x1000, back.data(), back.size()).empty());
        EXPECT_EQ(back, bytes);
    }
}

TEST(GdbTarget, RefusedChunksFailAsRunsAndTheRestIsRead)
{
    FakeGdbServer server({.answer = replying("m200,", "E14")});
    GdbTarget target(clientOf(server));
    ASSERT_EQ(target.readChunk(), 0x200u); // PacketSize 0x400 holds 0x200 bytes in hex
    std::vector<std::uint8_t> bytes(0x600, 0xAA);
    const auto failed = target.read(0x100, bytes.data(), bytes.size());
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(std::make_tuple(failed[0].address, failed[0].length, failed[0].status), std::make_tuple(0x200u, 0x200u, 0x14));
    EXPECT_EQ(bytes[0], 0);       // read
    EXPECT_EQ(bytes[0x100], 0xAA); // refused: kept
}

TEST(GdbTarget, BreakpointsOfEitherKindAndEveryWatchpoint)
{
    FakeGdbServer server({.answer = [](const std::string& packet) -> std::optional<std::string> {
        for (const auto& [prefix, reply] : std::vector<std::pair<std::string, std::string>>{
                 {"Z0", ""}, {"Z1", "OK"}, {"Z3", "OK"}, {"Z4", "E0e"}, {"z", ""}})
            if (packet.rfind(prefix, 0) == 0)
                return reply;
        return std::nullopt;
    }});
    GdbTarget target(clientOf(server));
    // No software breakpoints: the hardware kind is taken, and said.
    EXPECT_EQ(target.setStopPoint(StopPointKind::SoftwareBreakpoint, 0x400, 2, true), StopPointKind::HardwareBreakpoint);
    EXPECT_EQ(target.setStopPoint(StopPointKind::ReadWatchpoint, 0x20000004, 4, true), StopPointKind::ReadWatchpoint);
    EXPECT_TRUE(server.received("Z1,400,2"));
    EXPECT_TRUE(server.received("Z3,20000004,4"));
    using fakes::errorText;
    EXPECT_EQ(errorText<TargetError>([&] { target.setStopPoint(StopPointKind::AccessWatchpoint, 0x10, 1, true); }),
              "Setting an access watchpoint at 0x10 failed: error 0x0e");
    EXPECT_EQ(errorText<TargetError>([&] { target.setStopPoint(StopPointKind::SoftwareBreakpoint, 0x400, 2, false); }),
              "Removing a breakpoint at 0x400 failed: the server has no such points");
}

TEST(GdbDevice, StopsAreToldWithTheirReasonDataAddressAndPc)
{
    struct Case {
        const char* reply;
        bool asked, stepped;
        StopReason reason;
        std::optional<std::uint64_t> pc, dataAddress;
    };
    const RemoteRegister pc{"pc", 32, 15, "code_ptr", "general"};
    for (const auto& c : std::vector<Case>{
             {"T05swbreak:;0f:00040000;", false, false, StopReason::Breakpoint, 0x400, {}},
             {"T05hwbreak:;thread:p1.1;", false, false, StopReason::Breakpoint, {}, {}},
             {"S05", false, false, StopReason::Breakpoint, {}, {}},
             {"T05watch:20000004;0f:0c010000;", false, false, StopReason::Watchpoint, 0x10C, 0x20000004},
             {"T05awatch:8;", false, false, StopReason::Watchpoint, {}, 8},
             {"S05", true, false, StopReason::Suspended, {}, {}},
             {"S02", false, false, StopReason::Suspended, {}, {}},
             {"S05", false, true, StopReason::Step, {}, {}},
             {"T0b", false, false, StopReason::Exception, {}, {}},
             {"W00", false, false, StopReason::Exception, {}, {}},
             {"S0e", false, false, StopReason::Signal, {}, {}},
         }) {
        SCOPED_TRACE(c.reply);
        const auto told = stopOf(*rsp::parseStopReply(c.reply), c.asked, c.stepped, &pc);
        EXPECT_EQ(told.reason, c.reason);
        EXPECT_EQ(told.pc, c.pc);
        EXPECT_EQ(told.dataAddress, c.dataAddress);
    }
}

TEST(GdbDevice, RunControlTellsEachResumeAndStop)
{
    FakeGdbServer server;
    const auto device = GdbDevice::create("t", "d", nullptr, std::make_shared<TargetLink>(clientOf(server)), "reset");
    std::vector<std::string> told;
    std::mutex toldMutex;
    device->connectResumed([&] {
        std::lock_guard lock(toldMutex);
        told.push_back("resumed");
    });
    device->connectStopped([&](const TargetStop& stop) {
        std::lock_guard lock(toldMutex);
        told.push_back(stop.description + " as " + std::to_string(static_cast<int>(stop.reason)));
    });
    IRunControl& control = *device;
    control.resume();
    control.resume(); // running already: nothing
    EXPECT_TRUE(control.isRunning());
    EXPECT_FALSE(control.lastStop());
    control.halt();
    control.halt(); // halted already: nothing
    control.step();
    EXPECT_EQ(control.lastStop()->reason, StopReason::Step);
    std::lock_guard lock(toldMutex);
    EXPECT_THAT(told, ElementsAre("resumed", "halted (signal 2) as 0", "breakpoint as 1"));
}

TEST(GdbDevice, ABreakpointNoServerPlantsIsWrittenIntoMemoryAndSteppedOffUnheard)
{
    FakeGdbServer server; // answers no Z packet
    const auto link = std::make_shared<TargetLink>(clientOf(server));
    const std::vector<std::uint8_t> code{0x12, 0x34};
    ASSERT_TRUE(link->target.write(0x400, code.data(), code.size()).empty());
    const auto device = GdbDevice::create("t", "d", nullptr, link, "reset");
    std::atomic<int> stops{0};
    device->connectStopped([&](const TargetStop&) { ++stops; });

    EXPECT_EQ(device->setStopPoint(StopPointKind::SoftwareBreakpoint, 0x400, 2, true), StopPointKind::WrittenBreakpoint);
    EXPECT_EQ(server.memory(0x400, 2), (std::vector<std::uint8_t>{0x00, 0xBE}));
    // Resumed at the breakpoint: the instruction goes back for one step nobody hears of, then the
    // breakpoint again, then the run.
    link->target.writeRegister(link->target.registers()[2], {0x00, 0x04, 0x00, 0x00});
    device->resume();
    const auto packets = server.packets();
    const auto step = std::find(packets.begin(), packets.end(), "s");
    ASSERT_NE(step, packets.end());
    EXPECT_NE(std::find(step, packets.end(), "c"), packets.end());
    EXPECT_EQ(server.memory(0x400, 2), (std::vector<std::uint8_t>{0x00, 0xBE}));
    EXPECT_EQ(stops, 0);
    device->halt();
    EXPECT_EQ(device->setStopPoint(StopPointKind::WrittenBreakpoint, 0x400, 2, false), StopPointKind::WrittenBreakpoint);
    EXPECT_EQ(server.memory(0x400, 2), code);
}

TEST(GdbTarget, FlashAreasAreRewrittenWholeBlocksThroughVFlash)
{
    FakeGdbServer server({.flash = {{0x8000, 0x1000, 0x400}}});
    GdbTarget target(clientOf(server));
    ASSERT_TRUE(target.hasFlash());
    const std::string before = "keep";
    ASSERT_TRUE(target.write(0x7FFC, reinterpret_cast<const std::uint8_t*>(before.data()), 4).empty());
    const std::string image = "flash!";
    ASSERT_TRUE(target.write(0x8402, reinterpret_cast<const std::uint8_t*>(image.data()), image.size()).empty());
    EXPECT_EQ(text(server.memory(0x8402, 6)), image);
    // The rest of the block was read first and written back, not left erased.
    EXPECT_EQ(server.memory(0x8400, 2), (std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(text(server.memory(0x7FFC, 4)), before); // RAM before the area went through X
    EXPECT_TRUE(server.received("vFlashErase:8400,400"));
    EXPECT_TRUE(server.received("vFlashDone"));
    target.eraseFlash();
    EXPECT_EQ(server.memory(0x8402, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));
}

TEST(GdbTarget, RegistersByNumberOrFromTheWholeBlock)
{
    for (const bool byNumber : {true, false}) {
        FakeGdbServer server(byNumber ? Behaviour{} : Behaviour{.answer = replying("p", "")}); // else `g`
        GdbTarget target(clientOf(server));
        ASSERT_EQ(target.registers().size(), 3u);
        const auto& pc = target.registers()[2];
        EXPECT_EQ(pc.name, "pc");
        target.writeRegister(pc, {0x00, 0x04, 0x00, 0x00});
        EXPECT_EQ(target.readRegister(pc), (std::vector<std::uint8_t>{0x00, 0x04, 0x00, 0x00})) << byNumber;
    }
}

// --- connections -----------------------------------------------------------------------------

TEST(GdbConnections, EndpointsThatAnswerAreAttached)
{
    EXPECT_EQ(parseEndpoints(" 127.0.0.1:3333, bad, :1, host:70000,localhost:2331 ").size(), 2u);
    FakeGdbServer server;
    const std::string endpoint = "127.0.0.1:" + std::to_string(server.port());
    TcpConnectionFactory factory(endpoint + ", 127.0.0.1:" + std::to_string(FakeGdbServer::closedPort()));
    const auto attached = factory.getAttachedConnections();
    ASSERT_EQ(attached.size(), 1u);
    EXPECT_EQ(boost::json::serialize(attached[0]->getConnectionProperties()),
              R"({"Host":"127.0.0.1","Port":)" + std::to_string(server.port()) + "}");
    // In use by a tool of ours: listed without knocking.
    server.stop();
    EndpointsInUse::instance().add(endpoint);
    EXPECT_EQ(factory.getAttachedConnections().size(), 1u);
    EndpointsInUse::instance().remove(endpoint);
    EXPECT_TRUE(factory.getAttachedConnections().empty());

    EXPECT_EQ(factory.createConnection({{"Port", 0}}), nullptr);
    EXPECT_EQ(factory.createConnection({{"Port", "3333"}, {"Host", 7}}), nullptr);
    EXPECT_EQ(boost::json::serialize(factory.createConnection({{"Port", "3333"}})->getConnectionProperties()),
              R"({"Host":"127.0.0.1","Port":3333})");
}

TEST(GdbConnections, KernelsThatAreNotArmElfFilesAreNamed)
{
    fakes::TempDirectory directory;
    std::string x86("\x7f" "ELF\x01\x01", 6); // 32-bit, little-endian
    x86.resize(20);
    x86[18] = 3; // EM_386
    struct Case {
        std::string path, says;
    };
    for (const auto& [path, says] : std::vector<Case>{
             {(directory.path() / "missing.elf").string(), "cannot be read"},
             {directory.write("text.elf", "not an image at all").string(), "is not an ELF file"},
             {directory.write("x86.elf", x86).string(), "not for 32-bit ARM"},
         })
        EXPECT_THAT([&] { QemuProcess::checkKernel(path); }, testing::ThrowsMessage<std::runtime_error>(HasSubstr(says)));
}

} // namespace
} // namespace hil::gdbremote
