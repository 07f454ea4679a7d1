// SPDX-License-Identifier: Apache-2.0
// Run control, breakpoints and stack frames through the standard TCF services, end to end: a real
// Cortex-M3 behind QEMU running the test firmware (its tick hook on_tick sits at 0x400, its
// counter at 0x20000000), and fake GDB servers for what QEMU never does.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include <boost/json.hpp>

#include "bundles/gdbremote/QemuProcess.h"
#include "tests/e2e/EventLog.h"
#include "tests/fakes/Eventually.h"
#include "tests/fakes/FakeGdbServer.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using namespace std::chrono_literals;
namespace json = boost::json;

const std::string kQemuDevice = "gdbremote-1.MPS2-AN385";
constexpr std::uint64_t kTickHook = 0x400;
constexpr std::uint64_t kCounter = 0x20000000;

std::string quoted(const std::string& text) { return json::serialize(json::value(text)); }

/// A contextSuspended event, read back.
struct Stop {
    std::optional<std::uint64_t> pc;
    std::string reason;
    json::object data;
};

/// A client of the back-end with the services' calls and events at hand.
struct Debugger {
    explicit Debugger(const BackendProcess& backend) : client(connect(backend)) { events.attach(*client); }

    std::vector<std::string> call(const std::string& service, const std::string& command,
                                  const std::vector<std::string>& arguments = {})
    {
        return client->call(service, command, arguments).values;
    }
    /// The error slot of a command that replies nothing else.
    std::string status(const std::string& service, const std::string& command, const std::vector<std::string>& arguments)
    {
        return call(service, command, arguments).at(0);
    }
    std::string addBreakpoint(const json::object& properties)
    {
        return status("Breakpoints", "add", {json::serialize(properties)});
    }
    std::string resume(const std::string& target, int mode = 0, std::int64_t count = 1)
    {
        return status("RunControl", "resume", {quoted(target), std::to_string(mode), std::to_string(count)});
    }
    /// The next stop of `target` told after the events seen so far.
    std::optional<Stop> nextStop(const std::string& target, std::chrono::milliseconds timeout = 10s)
    {
        const auto event = events.next("RunControl contextSuspended " + quoted(target) + " ", seen, timeout);
        if (!event)
            return std::nullopt;
        std::string rest = event->substr(("RunControl contextSuspended " + quoted(target) + " ").size());
        Stop stop;
        const auto pcEnd = rest.find(' ');
        if (rest.substr(0, pcEnd) != "null")
            stop.pc = std::stoull(rest.substr(0, pcEnd));
        rest = rest.substr(pcEnd + 1);
        const auto reasonEnd = rest.find(' ');
        stop.reason = json::parse(rest.substr(0, reasonEnd)).as_string();
        stop.data = json::parse(rest.substr(reasonEnd + 1)).as_object();
        return stop;
    }
    json::object breakpointStatus(const std::string& id)
    {
        const auto reply = call("Breakpoints", "getStatus", {quoted(id)});
        EXPECT_EQ(reply.at(0), "");
        return json::parse(reply.at(1)).as_object();
    }
    json::array frames(const std::string& target)
    {
        const auto ids = call("StackTrace", "getChildren", {quoted(target)});
        EXPECT_EQ(ids.at(0), "");
        const auto reply = call("StackTrace", "getContext", {ids.at(1)});
        EXPECT_EQ(reply.at(1), "");
        // Listed bottom to top: the top first here.
        auto frames = json::parse(reply.at(0)).as_array();
        std::reverse(frames.begin(), frames.end());
        return frames;
    }

    EventLog events;
    std::unique_ptr<tcf::TcfClient> client;
    std::size_t seen = 0;
};

json::object breakpointAt(const std::string& id, const std::string& location, json::object more = {})
{
    more["ID"] = id;
    more["Enabled"] = true;
    more["Location"] = location;
    return more;
}

json::array hits(const Stop& stop) { return stop.data.contains("BPs") ? stop.data.at("BPs").as_array() : json::array(); }

class QemuDebuggingTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(HIL_FIRMWARE_ELF).empty() || gdbremote::QemuProcess::executable().empty())
            GTEST_SKIP() << "needs qemu-system-arm and arm-none-eabi-gcc";
        backend = std::make_unique<BackendProcess>(BackendProcess::withGdbRemote(directory.path()));
        first = std::make_unique<Debugger>(*backend);
        const std::string connection = json::serialize(json::object{{"Kernel", HIL_FIRMWARE_ELF}});
        ASSERT_THAT(first->call("Tool", "setupTool", {R"("com.velmora.hil.gdbremote")", R"("com.velmora.hil.connection.qemu")",
                                                      connection}),
                    ElementsAre("", R"("gdbremote-1")"));
        ASSERT_THAT(first->call("Tool", "connect", {R"("gdbremote-1")"}), ElementsAre(""));
        ASSERT_TRUE(first->events.waitUntil([](const std::string& event) { return event.rfind("RunControl contextAdded", 0) == 0; }));
    }

    fakes::TempDirectory directory;
    std::unique_ptr<BackendProcess> backend;
    std::unique_ptr<Debugger> first;
};

TEST_F(QemuDebuggingTest, SuspendsStepsAndStopsAtBreakpointsAndWatchpoints)
{
    auto& d = *first;
    EXPECT_THAT(d.call("RunControl", "getChildren", {"null"}), ElementsAre("", "[" + quoted(kQemuDevice) + "]"));
    const auto context = json::parse(d.call("RunControl", "getContext", {quoted(kQemuDevice)}).at(1)).as_object();
    EXPECT_EQ(context.at("CanResume"), 7);
    EXPECT_EQ(context.at("ProcessID"), json::value(kQemuDevice + ".base"));

    // QEMU starts halted at the reset vector; running, then suspended, it tells where.
    EXPECT_THAT(d.call("RunControl", "getState", {quoted(kQemuDevice)}).at(1), "true");
    EXPECT_EQ(d.resume(kQemuDevice), "");
    EXPECT_TRUE(d.events.waitForWhole("RunControl contextResumed " + quoted(kQemuDevice)));
    EXPECT_THAT(d.call("RunControl", "getState", {quoted(kQemuDevice)}), ElementsAre("", "false", "null", "null", "null"));
    EXPECT_EQ(d.status("RunControl", "suspend", {quoted(kQemuDevice)}), "");
    auto stop = d.nextStop(kQemuDevice);
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->reason, "Suspended");
    auto state = d.call("RunControl", "getState", {quoted(kQemuDevice)});
    EXPECT_THAT(state, ElementsAre("", "true", std::to_string(*stop->pc), "\"Suspended\"", testing::_));
    EXPECT_THAT(d.status("RunControl", "suspend", {quoted(kQemuDevice)}), HasSubstr("\"Code\":10"));

    // One step, then ten told as one stop; the Message events of each step keep coming.
    EXPECT_EQ(d.resume(kQemuDevice, 2, 1), "");
    const auto stepped = d.nextStop(kQemuDevice);
    ASSERT_TRUE(stepped);
    EXPECT_EQ(stepped->reason, "Step");
    EXPECT_NE(stepped->pc, stop->pc);
    EXPECT_EQ(d.resume(kQemuDevice, 1, 10), "");
    const auto tenSteps = d.nextStop(kQemuDevice);
    ASSERT_TRUE(tenSteps);
    EXPECT_EQ(tenSteps->reason, "Step");
    EXPECT_THAT(d.call("RunControl", "getState", {quoted(kQemuDevice)}).at(2), std::to_string(*tenSteps->pc));
    EXPECT_FALSE(d.nextStop(kQemuDevice, 300ms)) << "ten steps are told as one stop";
    std::size_t messages = 0;
    for (const auto& event : d.events.events())
        messages += event.rfind("Message message " + quoted(kQemuDevice + ".messages"), 0) == 0 ? 1 : 0;
    EXPECT_GE(messages, 11u);
    EXPECT_EQ(d.frames(kQemuDevice).at(0).at("IP"), *tenSteps->pc);

    // A breakpoint at the tick hook is hit again and again, each hit counted.
    EXPECT_EQ(d.addBreakpoint(breakpointAt("tick", "0x400")), "");
    const auto instance = d.breakpointStatus("tick").at("Instances").at(0).as_object();
    EXPECT_EQ(instance.at("Address"), kTickHook);
    EXPECT_EQ(instance.at("BreakpointType"), "Software");
    for (int hit = 1; hit <= 2; ++hit) {
        EXPECT_EQ(d.resume(kQemuDevice), "");
        stop = d.nextStop(kQemuDevice);
        ASSERT_TRUE(stop);
        EXPECT_EQ(stop->reason, "Breakpoint");
        EXPECT_EQ(stop->pc, kTickHook);
        EXPECT_EQ(hits(*stop), json::array{"tick"});
    }
    EXPECT_EQ(d.breakpointStatus("tick").at("Instances").at(0).at("HitCount"), 2);
    EXPECT_TRUE(d.events.waitForWhole("Message message " + quoted(kQemuDevice + ".messages") +
                                      " \"MPS2-AN385\" \"Target stopped: breakpoint\""));
    // In the hook, the caller's frame comes from LR: back in the firmware's loop.
    const auto frames = d.frames(kQemuDevice);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames.at(0).at("IP"), kTickHook);
    EXPECT_NE(frames.at(1).at("IP"), kTickHook);
    EXPECT_EQ(frames.at(1).at("Index"), 1);

    // A temporary breakpoint goes after its first hit; an ignore count lets that many hits pass.
    EXPECT_THAT(d.call("Breakpoints", "remove", {"[\"tick\"]"}), ElementsAre(""));
    EXPECT_EQ(d.addBreakpoint(breakpointAt("once", "1024", {{"Temporary", true}})), "");
    EXPECT_EQ(d.resume(kQemuDevice), "");
    stop = d.nextStop(kQemuDevice);
    ASSERT_TRUE(stop);
    EXPECT_EQ(hits(*stop), json::array{"once"});
    EXPECT_TRUE(d.events.waitForWhole(R"(Breakpoints contextRemoved ["once"])"));
    EXPECT_EQ(d.addBreakpoint(breakpointAt("third", "0x400", {{"IgnoreCount", 2}})), "");
    EXPECT_EQ(d.resume(kQemuDevice), "");
    stop = d.nextStop(kQemuDevice, 20s);
    ASSERT_TRUE(stop);
    EXPECT_EQ(hits(*stop), json::array{"third"});
    EXPECT_EQ(d.breakpointStatus("third").at("Instances").at(0).at("HitCount"), 3);
    EXPECT_THAT(d.call("Breakpoints", "remove", {"[\"third\"]"}), ElementsAre(""));

    // A write watchpoint on the counter stops with the data address.
    EXPECT_EQ(d.addBreakpoint(breakpointAt("count", "0x20000000", {{"AccessMode", 2}, {"Size", 4}})), "");
    EXPECT_EQ(d.resume(kQemuDevice), "");
    stop = d.nextStop(kQemuDevice);
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->reason, "Watchpoint");
    EXPECT_EQ(stop->data.at("DataAddress"), kCounter);
    EXPECT_EQ(hits(*stop), json::array{"count"});
    EXPECT_THAT(d.call("Breakpoints", "remove", {"[\"count\"]"}), ElementsAre(""));

    // A breakpoint set while the target runs is planted without a stop anyone hears of.
    EXPECT_EQ(d.resume(kQemuDevice), "");
    EXPECT_EQ(d.addBreakpoint(breakpointAt("late", "0x400")), "");
    stop = d.nextStop(kQemuDevice);
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->reason, "Breakpoint");
    EXPECT_EQ(hits(*stop), json::array{"late"});
}

TEST_F(QemuDebuggingTest, ABreakpointGoesWithItsClientAndALostTargetIsToldToTheOthers)
{
    // The tool is the first client's: the second one comes and goes.
    auto second = std::make_unique<Debugger>(*backend);
    EXPECT_EQ(first->addBreakpoint(breakpointAt("mine", "0x400")), "");
    EXPECT_EQ(second->addBreakpoint(breakpointAt("yours", "0x400")), "");
    EXPECT_THAT(second->call("Breakpoints", "getIDs"), ElementsAre("", R"(["mine","yours"])"));
    second.reset();
    auto& d = *first;
    EXPECT_TRUE(d.events.waitForWhole(R"(Breakpoints contextRemoved ["yours"])"));
    EXPECT_EQ(d.resume(kQemuDevice), "");
    auto stop = d.nextStop(kQemuDevice);
    ASSERT_TRUE(stop);
    EXPECT_EQ(hits(*stop), json::array{"mine"});
    // With the last breakpoint gone from the target, the hook runs and prints.
    EXPECT_THAT(d.call("Breakpoints", "remove", {"[\"mine\"]"}), ElementsAre(""));
    EXPECT_EQ(d.resume(kQemuDevice), "");
    EXPECT_TRUE(d.events.waitUntilWhole([](const std::string& event) { return event.find("\"tick ") != std::string::npos; }, 10s));

    // QEMU killed while the target runs: the others hear of it, and are served.
    Debugger other(*backend);
    const auto tool = json::parse(d.call("Tool", "getContext", {R"("gdbremote-1")"}).at(1)).as_object();
    ::kill(static_cast<pid_t>(tool.at("QemuPid").to_number<std::int64_t>()), SIGKILL);
    EXPECT_TRUE(other.events.waitForWhole("RunControl contextRemoved [" + quoted(kQemuDevice) + "]", 10s));
    EXPECT_TRUE(other.events.waitFor("RunControl contextException " + quoted(kQemuDevice)));
    EXPECT_THAT(other.call("RunControl", "getChildren", {"null"}), ElementsAre("", "[]"));
    EXPECT_THAT(other.resume(kQemuDevice), HasSubstr("\"Code\":16"));
}

/// Runs `script` (gdb commands, one a line) in gdb-multiarch on the test firmware; its output.
std::string runGdb(const std::filesystem::path& directory, const std::string& name, const std::string& script)
{
    const auto file = directory / (name + ".gdb");
    std::ofstream(file) << "set pagination off\nset confirm off\n" << script;
    return runCommand("timeout 60 gdb-multiarch -batch -nx -x " + file.string() + " " + HIL_FIRMWARE_ELF).output;
}

/// `output` without the lines that differ from run to run (ports, transfer rates).
std::string comparable(const std::string& output)
{
    std::istringstream lines(output);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
        if (line.find("Transfer rate") == std::string::npos && line.find("Remote debugging using") == std::string::npos)
            kept += line + "\n";
    return kept;
}

class QemuGdbServerTest : public QemuDebuggingTest {
protected:
    void SetUp() override
    {
        QemuDebuggingTest::SetUp();
        if (IsSkipped())
            return;
        if (runCommand("gdb-multiarch --version").exitCode != 0)
            GTEST_SKIP() << "needs gdb-multiarch";
        ASSERT_EQ(first->status("Tool", "setProperties", {R"("gdbremote-1")", R"({"GdbServer":0})"}), "");
        const auto tool = json::parse(first->call("Tool", "getContext", {R"("gdbremote-1")"}).at(1)).as_object();
        port = static_cast<std::uint16_t>(tool.at("GdbServerPort").to_number<std::int64_t>());
    }
    std::string target() const { return "target extended-remote 127.0.0.1:" + std::to_string(port) + "\n"; }

    std::uint16_t port = 0;
};

// The session of a gdb user: what gdb says through hilcore is what it says straight to QEMU's stub.
const std::string kGdbSession = "load\nbreak on_tick\ncontinue\nbt\ninfo registers\nx/4wx 0x20000000\nstepi\n"
                                "info registers pc\nwatch *(int*)0x20000000\ncontinue\n";

TEST_F(QemuGdbServerTest, GdbSeesWhatQemusOwnStubShowsWhileTcfClientsShareTheTarget)
{
    const std::string cli = std::string(HIL_CLI_PATH) + " --connect 127.0.0.1:" + std::to_string(backend->port());
    const std::string extras = "echo ==extras==\\n\n"
                               "shell " + cli + " mem read " + kQemuDevice + ".base 0x20000000 4\n"
                               "shell gdb-multiarch -batch -nx -ex '" + target().substr(0, target().size() - 1) + "'\n"
                               "monitor reset halt\nmaintenance flush register-cache\ninfo registers pc\n";
    const auto throughHilcore = runGdb(directory.path(), "hilcore", target() + kGdbSession + extras + "detach\n");
    const auto extrasAt = throughHilcore.find("==extras==");
    ASSERT_NE(extrasAt, std::string::npos) << throughHilcore;

    gdbremote::QemuProcess qemu("mps2-an385", HIL_FIRMWARE_ELF, [](const std::string&) {});
    const auto direct = runGdb(directory.path(), "qemu", "target extended-remote 127.0.0.1:" + std::to_string(qemu.gdbPort()) +
                                                            "\n" + kGdbSession + "detach\n");
    EXPECT_THAT(direct, HasSubstr("Old value = 1024")) << direct;
    EXPECT_EQ(comparable(throughHilcore.substr(0, extrasAt)), comparable(direct.substr(0, direct.find("[Inferior 1"))));

    // While gdb held the target: a TCF client read its memory; a second gdb was sent away; the
    // reset halted it at its first instruction.
    const auto afterwards = throughHilcore.substr(extrasAt);
    EXPECT_THAT(afterwards, HasSubstr("20000000  01 04 00 00")) << afterwards;
    EXPECT_THAT(afterwards, HasSubstr("serves one gdb at a time"));
    EXPECT_THAT(afterwards, HasSubstr("pc             0x476"));
    EXPECT_THAT(afterwards, HasSubstr("detached"));

    // Each of gdb's stops reached the TCF client, its breakpoints named as the GDB server's.
    auto& d = *first;
    const auto atHook = d.nextStop(kQemuDevice);
    ASSERT_TRUE(atHook);
    EXPECT_EQ(atHook->pc, kTickHook);
    ASSERT_EQ(hits(*atHook).size(), 1u);
    EXPECT_THAT(std::string(hits(*atHook)[0].as_string()), HasSubstr("GDB server on 127.0.0.1:" + std::to_string(port)));
    const auto stepped = d.nextStop(kQemuDevice);
    ASSERT_TRUE(stepped);
    EXPECT_EQ(stepped->reason, "Step");
    const auto watched = d.nextStop(kQemuDevice);
    ASSERT_TRUE(watched);
    EXPECT_EQ(watched->data.at("DataAddress"), kCounter);
    EXPECT_TRUE(d.events.waitUntilWhole([](const std::string& event) {
        return event.rfind("Breakpoints contextAdded", 0) == 0 && event.find("\"PlantedBy\":\"GDB server on") != std::string::npos;
    }));
    EXPECT_TRUE(d.events.waitFor("Memory memoryChanged " + quoted(kQemuDevice + ".base")));
}

TEST_F(QemuGdbServerTest, AGdbKilledLeavesTheTargetToTcfAndALostTargetEndsTheNextGdbsSession)
{
    // gdb dies while the target runs for it: TCF clients take over, and the next gdb is served.
    const auto killed = runGdb(directory.path(), "killed", target() + "shell (sleep 1; kill -9 $PPID) &\ncontinue\n");
    auto& d = *first;
    EXPECT_TRUE(d.events.waitForWhole("RunControl contextResumed " + quoted(kQemuDevice), 10s)) << killed;
    EXPECT_EQ(d.status("RunControl", "suspend", {quoted(kQemuDevice)}), "");
    ASSERT_TRUE(d.nextStop(kQemuDevice));
    EXPECT_EQ(d.call("Memory", "get", {quoted(kQemuDevice + ".base"), "536870912", "1", "4", "0"}).at(1), "");

    // QEMU goes while the next gdb waits for its target to stop: gdb hears so and gets its prompt back.
    const auto tool = json::parse(d.call("Tool", "getContext", {R"("gdbremote-1")"}).at(1)).as_object();
    const auto qemu = tool.at("QemuPid").to_number<std::int64_t>();
    const auto lost = runGdb(directory.path(), "lost", target() + "shell (sleep 1; kill -9 " + std::to_string(qemu) + ") &\ncontinue\n");
    EXPECT_THAT(lost, testing::AnyOf(HasSubstr("SIGKILL"), HasSubstr("Remote connection closed"))) << lost;
    EXPECT_TRUE(d.events.waitFor("RunControl contextRemoved [" + quoted(kQemuDevice) + "]", 10s));
    EXPECT_THAT(d.call("GdbServer", "getServers"), ElementsAre("", "[]"));
}

TEST(GdbServers, TheBackEndsOptionGivesEveryTargetWithRunControlAServer)
{
    if (std::string(HIL_FIRMWARE_ELF).empty() || gdbremote::QemuProcess::executable().empty())
        GTEST_SKIP() << "needs qemu-system-arm and arm-none-eabi-gcc";
    // A port of this process's own: a taken one is passed over for the next.
    const int first = 40000 + ::getpid() % 20000;
    fakes::TempDirectory directory;
    auto options = BackendProcess::withGdbRemote(directory.path());
    options.insert(options.end(), {"--gdb-servers", "127.0.0.1:" + std::to_string(first)});
    BackendProcess backend(options);
    Debugger d(backend);
    const std::string connection = json::serialize(json::object{{"Kernel", HIL_FIRMWARE_ELF}});
    ASSERT_EQ(d.call("Tool", "setupTool", {R"("com.velmora.hil.gdbremote")", R"("com.velmora.hil.connection.qemu")", connection})
                  .at(0),
              "");
    ASSERT_EQ(d.status("Tool", "connect", {R"("gdbremote-1")"}), "");
    json::array servers;
    ASSERT_TRUE(fakes::eventually([&] {
        servers = json::parse(d.call("GdbServer", "getServers").at(1)).as_array();
        return !servers.empty();
    }));
    const auto& server = servers.at(0).as_object();
    EXPECT_EQ(server.at("TargetID"), json::value(kQemuDevice));
    EXPECT_GE(server.at("Port").to_number<int>(), first);
    const auto tool = json::parse(d.call("Tool", "getContext", {R"("gdbremote-1")"}).at(1)).as_object();
    EXPECT_EQ(tool.at("GdbServerPort"), server.at("Port"));
}

// QEMU always takes Z0, offers vCont and answers: the fakes do not.
TEST(FakeServerDebugging, FallsBackToTheOtherBreakpointKindStepsWithoutVContAndRefusesBadInput)
{
    fakes::FakeGdbServer server({.answer = [](const std::string& packet) -> std::optional<std::string> {
        if (packet.rfind("Z0", 0) == 0)
            return "E01";
        if (packet.rfind("Z1", 0) == 0 || packet.rfind("z1", 0) == 0)
            return "OK";
        return std::nullopt;
    }});
    fakes::FakeGdbServer silent({.silentOn = {"s", "vCont;s"}});
    fakes::TempDirectory directory;
    BackendProcess backend(BackendProcess::withGdbRemote(directory.path()));
    Debugger d(backend);
    for (const auto port : {server.port(), silent.port()}) {
        const auto tool = d.call("Tool", "setupTool", {R"("com.velmora.hil.gdbremote")", R"("com.velmora.hil.connection.tcp")",
                                                       R"({"Port":)" + std::to_string(port) + "}"});
        ASSERT_EQ(tool.at(0), "");
        ASSERT_EQ(d.status("Tool", "setProperties", {tool.at(1), R"({"Timeout":500})"}), "");
        ASSERT_EQ(d.status("Tool", "connect", {tool.at(1)}), "");
    }
    const std::string target = "gdbremote-1.target";
    const std::string mute = "gdbremote-2.target";

    EXPECT_EQ(d.addBreakpoint(breakpointAt("b", "0x100", {{"BreakpointType", "Software"}, {"ContextIds", json::array{target}}})),
              "");
    EXPECT_EQ(d.breakpointStatus("b").at("Instances").at(0).at("BreakpointType"), "Hardware");
    EXPECT_TRUE(server.received("Z1,100,2"));

    // No vCont: three steps are three "s", told as one stop.
    EXPECT_EQ(d.resume(target, 2, 3), "");
    const auto stop = d.nextStop(target);
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->reason, "Step");
    const auto packets = server.packets();
    EXPECT_EQ(std::count(packets.begin(), packets.end(), "s"), 3);

    const std::string t = quoted(target);
    struct Case {
        const char* service;
        const char* command;
        std::vector<std::string> arguments;
        const char* says;
    };
    const Case cases[] = {
        {"RunControl", "resume", {t, "5", "1"}, R"("Code":23)"},
        {"RunControl", "resume", {t, "0", "2"}, R"("Code":20)"},
        {"RunControl", "resume", {t, "2", "0"}, R"("Code":20)"},
        {"RunControl", "resume", {t, "2", "1000000000"}, R"("Code":20)"},
        {"RunControl", "suspend", {t}, R"("Code":10)"},
        {"RunControl", "getState", {R"("nothing")"}, R"("Code":16)"},
        {"RunControl", "terminate", {t}, R"("Code":23)"},
        {"StackTrace", "getChildren", {R"("nothing")"}, R"("Code":16)"},
        {"Breakpoints", "add", {json::serialize(breakpointAt("sym", "main"))}, "is not an address"},
        {"Breakpoints", "getProperties", {R"("nothing")"}, R"("Code":16)"},
    };
    for (const auto& c : cases)
        EXPECT_THAT(d.status(c.service, c.command, c.arguments), HasSubstr(c.says)) << c.service << " " << c.command;
    // A failed value reply still carries its value slots.
    EXPECT_EQ(d.call("RunControl", "getState", {R"("nothing")"}).size(), 5u);
    json::array many;
    for (int i = 0; i < 10000; ++i)
        many.push_back(breakpointAt("many" + std::to_string(i), std::to_string(0x1000 + 2 * i)));
    EXPECT_THAT(d.status("Breakpoints", "set", {json::serialize(many)}), HasSubstr("at most 1000 breakpoints"));
    EXPECT_THAT(d.call("Breakpoints", "getIDs"), ElementsAre("", R"(["b"])"));

    // A server that plants neither kind gets the instruction written into its memory.
    EXPECT_EQ(d.addBreakpoint(breakpointAt("w", "0x200", {{"ContextIds", json::array{mute}}})), "");
    EXPECT_EQ(d.breakpointStatus("w").at("Instances").at(0).at("BreakpointType"), "Software (written to memory)");
    EXPECT_EQ(silent.memory(0x200, 2), (std::vector<std::uint8_t>{0x00, 0xBE}));

    // A step whose stop never comes is an exception; the suspend that follows finds the server
    // gone, and the target goes. The first target is served meanwhile.
    EXPECT_EQ(d.resume(mute, 2, 1), "");
    EXPECT_TRUE(d.events.waitFor("RunControl contextException " + quoted(mute)));
    EXPECT_THAT(d.call("RunControl", "getState", {t}).at(1), "true");
    EXPECT_NE(d.status("RunControl", "suspend", {quoted(mute)}), "");
    EXPECT_TRUE(d.events.waitForWhole("RunControl contextRemoved [" + quoted(mute) + "]"));
}

} // namespace
} // namespace hil::e2e
