// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include <boost/json.hpp>

#include "bundles/gdbremote/QemuProcess.h"
#include "platform/common/Base64.h"
#include "platform/tcf/TcfServer.h"
#include "tests/e2e/BackendProcess.h"
#include "tests/e2e/Terminal.h"
#include "tests/fakes/IntelHex.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using testing::AllOf;
using testing::EndsWith;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

using CliRun = CommandRun;

std::string cli(const std::string& arguments) { return std::string(HIL_CLI_PATH) + " " + arguments; }

CliRun runCli(const std::string& arguments) { return runCommand(cli(arguments)); }

/// The option that points the CLI at `backend`, with the space after it.
std::string connectTo(const BackendProcess& backend)
{
    return "--connect 127.0.0.1:" + std::to_string(backend.port()) + " ";
}

/// What `run` is given (a command line or a shell script), the exit code it must end with, and
/// what it must print (a plain string: exactly that).
struct Expected {
    std::string run;
    int exitCode;
    testing::Matcher<std::string> output = testing::_;
};

template <typename Run>
void expectAll(const std::vector<Expected>& cases, const Run& run)
{
    for (const auto& c : cases) {
        const CliRun result = run(c.run);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.run << "\n" << result.output;
        EXPECT_THAT(result.output, c.output) << c.run;
    }
}

/// Shell lines that set up the simulator (on DEMO8, or on DEMO32) and connect it.
const std::string kDemo8 = "setup simulator\ntool $tool connect\n";
const std::string kDemo32 = "setup simulator\ntool $tool set '{\"DeviceName\":\"DEMO32\"}'\ntool $tool connect\n";

class CliTest : public testing::Test {
protected:
    std::string connect() const { return connectTo(backend); }
    BackendProcess backend{BackendProcess::withTestBundles()};
};

TEST_F(CliTest, VerbsPrintRepliesExitOneOnAnErrorReplyAndTwoOnABadCommandLine)
{
    std::string lines;
    boost::json::array names;
    for (const auto& service : kTestBundleServices) {
        lines += service + "\n";
        names.emplace_back(service);
    }
    fakes::TempDirectory directory;
    const auto script = directory.write("script.txt", "services\n\ncall Echo sleep '\"x\"'\nservices\n");
    const auto steps = directory.write("steps.txt", "services\nexit\nfrobnicate\n");
    const auto bad = directory.write("bad.txt", "services\nfrobnicate\n");
    expectAll(
        {
            {"services", 0, lines},
            {"--json services", 0, boost::json::serialize(boost::json::object{{"data", names}}) + "\n"},
            // The context goes with the client that made it, so the next one finds the list empty.
            {"call Echo addContext '\"a\"' '\"\"'", 0},
            {"call Echo getChildren '\"\"'", 0, "[]\n"},
            // One object a verb: the values that are not the error slot as data, or the error.
            {"--json call Echo progress 2", 0, "{\"data\":2}\n"},
            {"--json call Echo getContext '\"nope\"'", 1,
             R"J({"data":null,"error":{"code":16,"message":"Invalid context nope, (code 16)"}})J" "\n"},
            {"--json frobnicate", 2, R"J({"data":null,"error":{"code":2,"message":"unknown verb frobnicate (help lists every verb)"}})J" "\n"},
            {"call Echo getContext '\"nope\"'", 1, "error: Invalid context nope, (code 16)\n"},
            {"call Nowhere getChildren '\"\"'", 1, HasSubstr("does not offer Nowhere getChildren")},
            {"call Echo", 2},
            {"call Echo getContext word", 2, HasSubstr("not JSON")},
            {"memm", 2, "error: unknown verb memm; did you mean mem? (help lists every verb)\n"},
            {"--help", 0},
            // The back-end was asked for no service it lacks, and said so at once.
            {"watch --for 60 Echo Nowhere", 2, HasSubstr("the back-end has no service Nowhere")},
            // A script's error names its line; a bare argument error names the command.
            {"shell < " + script.string(), 1, AllOf(HasSubstr("\nerror: line 3: Echo sleep was refused: "), EndsWith(" (code 3)\n"))},
            // "exit" ends the script before the bad line; a bad line is named with the file.
            {"run " + steps.string(), 0},
            {"run " + bad.string(), 2, HasSubstr("error: " + bad.string() + " line 2: unknown verb")},
        },
        [this](const std::string& arguments) { return runCli(connect() + arguments); });
}

TEST_F(CliTest, AShellAtATerminalPromptsAndKeepsItsHistory)
{
    fakes::TempDirectory home;
    const auto typed = runCommand("printf 'services\\nquit\\n' | HOME=" + home.path().string() + " XDG_DATA_HOME= timeout 20 script -qec '" +
                                  cli(connect() + "shell") + "' /dev/null");
    EXPECT_THAT(typed.output, AllOf(HasSubstr("hil> services"), HasSubstr("Echo")));
    EXPECT_THAT(fakes::readFile(home.path() / ".local/share/hilcore/history"), HasSubstr("services\nquit"));
}

TEST(CliWithoutBackend, VersionHelpAndTheEnvironmentsBackEnd)
{
    // Port 1 on loopback is never ours; help, for every verb from the same table, needs no back-end.
    const std::string nowhere = "--connect 127.0.0.1:1 ";
    expectAll(
        {
            {cli("--version"), 0, testing::MatchesRegex("hilcore-cli [0-9]+\\.[0-9]+\\.[0-9]+ \\(.+\\)\n")},
            {std::string(HIL_BACKEND_PATH) + " --version", 0, StartsWith("hilcore-backend ")},
            {cli(nowhere + "help mem"), 0,
             AllOf(HasSubstr("mem read|write|fill|dump|restore ID ADDRESS ...\n"),
                   HasSubstr("    read ID ADDRESS COUNT: read COUNT bytes and show them as a hex dump\n"))},
            {cli(nowhere + "mem --help"), 0, runCli(nowhere + "help mem").output},
            {cli(nowhere + "help"), 0, HasSubstr("a five-minute tour")},
            {cli("help frobnicate"), 2},
            {cli(nowhere + "stop"), 2, "error: stop is not a verb; use halt [TARGET] (help halt says more)\n"},
            {cli(nowhere + "help tool"), 0, HasSubstr("\n  gdbremote  watchpoint      {\"Address\":A,\"Size\":N}")},
            {"HILCORE_CONNECT=127.0.0.1:1 " + cli("services"), 3, HasSubstr("cannot connect to 127.0.0.1:1")},
            {"HILCORE_CONNECT=nowhere " + cli("services"), 2},
        },
        runCommand);
}

class CliToolTest : public testing::Test {
protected:
    /// Runs `lines` through `hilcore-cli shell` over one connection.
    CliRun runShell(const std::string& lines, const std::string& options = "") const
    {
        const auto script = directory.write("script.txt", lines);
        return runCli(connectTo(backend) + options + " shell < " + script.string());
    }

    /// Runs each script in a shell of its own against this test's back-end, in order: the
    /// simulators they set up are numbered on.
    void expectScripts(const std::vector<Expected>& scripts) const
    {
        expectAll(scripts, [this](const std::string& lines) { return runShell(lines); });
    }

    fakes::TempDirectory directory;
    BackendProcess backend{BackendProcess::withProbeDirectory(directory.path())};
};

/// Runs `command` on a pseudo-terminal and types Ctrl-C once its output shows `cue`.
CliRun interruptedAt(const std::string& command, const std::string& cue)
{
    Terminal terminal(command);
    if (terminal.waitFor(cue))
        terminal.typeCtrlC();
    return terminal.finish();
}

TEST_F(CliToolTest, CtrlCStopsATransferAtItsNextStepAndSaysHowFarItGot)
{
    // 256 MiB, mostly not there: many steps, and a bar on the terminal once the first is done.
    const auto dump = directory.path() / "dump.bin";
    const auto script = directory.write("dump.txt", kDemo32 + "mem dump $tool.DEMO32.base 0 0x10000000 " + dump.string() + "\n");
    const auto run = interruptedAt(cli(connectTo(backend) + "shell < " + script.string()), "dumping [");
    EXPECT_EQ(run.exitCode, 130) << run.output;
    EXPECT_THAT(run.output, AllOf(HasSubstr("dumped nothing: " + dump.string() + " removed"),
                                  testing::ContainsRegex("error: line 4: mem: interrupted after [0-9]+ of 268435456 byte\\(s\\)")));
    EXPECT_FALSE(std::filesystem::exists(dump));
}

TEST_F(CliToolTest, ToolVerbsKeepTheToolAcrossLinesAndAScriptStopsAtItsFirstFailure)
{
    expectScripts({
        {kDemo8 + "tool $tool voltage\ntool $tool raw 01cafe\ntool $tool text echo two words\nteardown $tool\n", 0,
         "simulator-1\nconnected\n3.3 V\ncafe\ntwo words\nsimulator-1 torn down\n"},
        {"setup simulator\ntool $tool firmware\ntool $tool connect\n", 1,
         EndsWith("\nerror: line 2: Firmware 1.0 is older than 1.1; run startUpgrade (code 0x20022)\n")},
        {"tool $tool connect\n", 2}, // $tool is unset in a fresh shell
        {"setup simulator\nupgrade $tool\ntool $tool firmware\n", 0,
         AllOf(HasSubstr("[######------------------------]  20% writing\n"),
               HasSubstr("[##############################] 100% writing\nupgrade finished\nfirmware is current\n"))},
    });
    // Told to keep going, a script runs past a failure and exits with its code.
    const auto going = runCli(connectTo(backend) + "shell --keep-going < " +
                              directory.write("going.txt", "setup simulator\ntool $tool firmware\nteardown $tool\n").string());
    EXPECT_EQ(going.exitCode, 1);
    EXPECT_THAT(going.output, AllOf(HasSubstr("error: line 2: Firmware 1.0"), EndsWith(" torn down\n")));
}

TEST_F(CliToolTest, AttachedListsPluggedInProbesAndSetupTakesShortNames)
{
    directory.write("probes/p.probe", R"({"SerialNumber":"VP-7"})");
    expectAll(
        {
            {"attached", 0,
             "com.velmora.hil.simulator\n"
             "com.velmora.hil.virtualprobe via com.velmora.hil.connection.virtual {\"SerialNumber\":\"VP-7\"}\n"},
            {"setup virtualprobe virtual '{\"SerialNumber\":\"VP-7\"}'", 0, "virtualprobe-1\n"},
            {"setup nosuchtool", 2, HasSubstr("no tool type is called nosuchtool (known: com.velmora.hil.simulator, ")},
        },
        [this](const std::string& arguments) { return runCli(connectTo(backend) + arguments); });
}

TEST_F(CliToolTest, DeviceAndStimuliVerbsDescribeAndDriveTheSimulatedDevice)
{
    expectScripts({
        {"device DEMO8 props SIGNATURES\ndevice DEMO8 group PORT PORT2\n" + kDemo8 +
             "session start $tool.DEMO8 debug\nerase $tool.DEMO8\nsession end $tool.DEMO8\n"
             "stimuli types\nstimuli designate $tool.DEMO8 bench\n",
         0,
         "SIGNATURE0 = 0x1E\nSIGNATURE1 = 0x95\nSIGNATURE2 = 0x0D\n"
         "PORT2: 3 bytes at 0x29 in data\n"
         "  0x29        PIN         1 byte(s)  PIN=0xFF\n"
         "  0x2A        DDR         1 byte(s)  DDR=0xFF\n"
         "  0x2B        PORT        1 byte(s)  PORT=0xFF\n"
         "simulator-1\nconnected\nDebuggingSession started, signature 0x1E950D\nerased\nsession ended\n"
         "com.velmora.hil.simulator.stimuli\nthe stimuli port of simulator-1.DEMO8 is bench\n"},
        {"device DEMO8 module DMA\n", 1, "error: line 1: Could not get Module DMA for DEMO8 (code 0x20030)\n"},
        {"device DEMO8 frobnicate\n", 2},
        {"stimuli designate nothing bench\n", 1, HasSubstr("error: line 1: Invalid context nothing,")},
        {"stimuli frobnicate\n", 2},
    });
}

TEST_F(CliToolTest, PackVerbsListDevicesAndShowAPeripheralReadFromTheTarget)
{
    // SR holds RXNE (bit 5) and TXE (bit 7); DR is a FIFO, which the view must not read.
    const std::string setup =
        kDemo32 + "mem write $tool.DEMO32.base 0x40011000 a0000000\nmem write $tool.DEMO32.base 0x40011008 0d000000\n";
    expectScripts({
        {"devices cm3\ndevice CMSDK_CM3 peripherals\n", 0,
         AllOf(StartsWith("CMSDK_CM3               CORTEX-M3     ARM Ltd.            "),
               Not(HasSubstr("DEMO8")), // the filter reads names, vendors and families
               HasSubstr("\nUART0           0x40004000   UART 0\n"))},
        {setup + "peripheral $tool.DEMO32 uart0\n", 0,
         HasSubstr("UART0 at 0x40011000\n"
                   "  0x40011000  SR            0x000000A0\n"
                   "      RXNE            [5]     1\n"
                   "      TXE             [7]     1\n"
                   "  0x40011004  DR            (not read: reading it changes the target)\n"
                   "  0x40011008  BRR           0x0000000D\n")},
        {setup + "peripheral $tool.DEMO32 GPIOZ\n", 1, HasSubstr("device DEMO32 has no peripheral GPIOZ (code 1, service Packs)")},
    });
    const auto json = runShell(setup + "peripheral $tool.DEMO32 UART0\n", "--json");
    const auto last = json.output.substr(json.output.rfind('\n', json.output.size() - 2) + 1);
    const auto registers = boost::json::parse(last).at("data").at("registers").as_array();
    EXPECT_EQ(registers.at(0).at("value"), 0xA0);
    EXPECT_EQ(registers.at(0).at("fields").at(1).at("value"), 1);
    EXPECT_TRUE(registers.at(1).at("value").is_null());
}

TEST_F(CliToolTest, MemoryAndRegisterVerbsAndTransfersOfWhichAnyByteFailed)
{
    const std::string outside = " byte(s) at 0x00000900 failed: outside the address space (status 2)\n";
    expectScripts({
        {kDemo8 + "mem write $tool.DEMO8.data 0x100 48690a\nmem fill $tool.DEMO8.data 0x8F8 4 0xAA\n"
                  "mem read $tool.DEMO8.data 0x8F8 4\nmem read $tool.DEMO8.data 0x100 3\n"
                  "reg set $tool.DEMO8.SP 0x8FF\nreg get $tool.DEMO8.SP\nregs $tool.DEMO8\n",
         0,
         AllOf(StartsWith("simulator-1\nconnected\nwrote 3 byte(s)\nfilled 4 byte(s)\n"
                          "0x000008F8  aa aa aa aa                                      |....|\n"
                          "0x00000100  48 69 0a                                         |Hi.|\n"
                          "SP = 0x08FF\n0x08FF\n"),
               HasSubstr("R31     0x00\nSREG    0x00\nSP      0x08FF\nPC      0x0000\n"))},
        {kDemo8 + "reg set $tool.DEMO8.SREG 256\n", 2, HasSubstr("error: line 3: reg set: 256 does not fit the 1 byte(s) of SREG")},
        {"mem read x 0x zz\n", 2},
        // A transfer of which any byte failed says which and why, and exits 1; a read shows what
        // it got, "--" where it got nothing.
        {kDemo8 + "mem fill $tool.DEMO8.data 0x8FC 8 0xAA\n", 1,
         EndsWith("\nconnected\nfilled 4 of 8 byte(s)\nerror: line 3: 4" + outside)},
        {kDemo8 + "mem write $tool.DEMO8.data 0x8FE 01020304\n", 1,
         EndsWith("\nconnected\nwrote 2 of 4 byte(s)\nerror: line 3: 2" + outside)},
        {kDemo8 + "mem read $tool.DEMO8.data 0x8FC 8\n", 1,
         EndsWith("\nconnected\n0x000008FC  00 00 00 00 -- -- -- --                          |....    |\nerror: line 3: 4" + outside)},
        // A dump that failed leaves no file, or with --keep-partial the bytes before the failure.
        {kDemo8 + "mem dump $tool.DEMO8.data 0x8FC 8 " + (directory.path() / "gone.bin").string() + "\n", 1,
         EndsWith("\nconnected\ndumped nothing: " + (directory.path() / "gone.bin").string() +
                  " removed (--keep-partial keeps the 4 byte(s) read before the failure)\nerror: line 3: 4" + outside)},
        {kDemo8 + "mem dump $tool.DEMO8.data 0x8FC 8 " + (directory.path() / "kept.bin").string() + " --keep-partial\n", 1,
         EndsWith("\nconnected\ndumped 4 of 8 byte(s) to " + (directory.path() / "kept.bin").string() + "\nerror: line 3: 4" +
                  outside)},
    });
    EXPECT_FALSE(std::filesystem::exists(directory.path() / "gone.bin"));
    EXPECT_EQ(std::filesystem::file_size(directory.path() / "kept.bin"), 4u);
}

TEST_F(CliToolTest, LoadWritesHexBinaryAndElfImagesAndRefusesWhatCannotGo)
{
    using fakes::intelHexRecord;
    const auto hex = directory.write("app.hex", intelHexRecord(0x04, 0, {0x20, 0x00}) +
                                                    intelHexRecord(0x00, 0x0100, {0xDE, 0xAD, 0xBE, 0xEF}) +
                                                    fakes::kIntelHexEnd);
    const auto binary = directory.write("app.bin", "firmware");
    const auto dump = directory.path() / "dump.bin";
    const auto run = runShell(kDemo32 + "load " + hex.string() + " --verify\n" +
                              "mem read $tool.DEMO32.base 0x20000100 4\n"
                              "load " + binary.string() + " --address 0x1000 --verify --device $tool.DEMO32\n" +
                              "mem dump $tool.DEMO32.base 0x1000 8 " + dump.string() + "\n" +
                              "mem restore $tool.DEMO32.base 0x20000200 " + dump.string() + "\n" +
                              "mem read $tool.DEMO32.base 0x20000200 8\n");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_THAT(run.output, testing::ContainsRegex("loaded 4 byte\\(s\\) in [0-9.]+ s \\([0-9]+ KiB/s\\): 1 segment\\(s\\) "
                                                   "of Intel HEX into simulator-1.DEMO32\nverified 4 byte"));
    EXPECT_THAT(run.output, AllOf(HasSubstr("0x20000100  de ad be ef"), HasSubstr("of binary into simulator-1.DEMO32\nverified 8 byte"),
                                  HasSubstr("|firmware|")));
    if (!std::string(HIL_FIRMWARE_ELF).empty()) {
        const auto elf = runShell(kDemo32 + "load " + std::string(HIL_FIRMWARE_ELF) + " --verify\n");
        EXPECT_EQ(elf.exitCode, 0) << elf.output;
        EXPECT_THAT(elf.output, HasSubstr("of ELF into simulator-2.DEMO32\nverified "));
    }

    const auto refused = [](const std::string& why) { return AllOf(HasSubstr(why), Not(HasSubstr("loaded"))); };
    expectScripts({
        {kDemo8 + "load " + directory.write("notes.txt", "hello").string() + "\n", 2, refused("is neither an ELF nor an Intel HEX file")},
        {kDemo8 + "load " + hex.string() + "\n", 2, refused("4 byte(s) at 0x20000100 lie in no address space of simulator-")},
        {kDemo8 + "load " + directory.write("sig.bin", "abc").string() + " --address 0 --space $tool.DEMO8.signatures\n", 1,
         refused("3 byte(s) at 0x00000000 failed: read-only (status 3)")},
        {kDemo8 + "load " + binary.string() + "\n", 2, refused("a binary image needs --address")},
        // A program for the host is no program for the target.
        {kDemo32 + "load " + std::string(HIL_BACKEND_PATH) + "\n", 2,
         refused(".DEMO32 is a CORTEX-M4 (ARM, 32-bit); nothing was written")},
        // A file this side cannot use is no fault of the command line.
        {kDemo8 + "load " + directory.write("broken.hex", ":04000000DEADBEEF00\n").string() + "\n", 1, refused("broken.hex line 1")},
        {kDemo8 + "load " + (directory.path() / "absent.hex").string() + "\n", 1, refused("cannot read")},
        {kDemo8 + "mem dump $tool.DEMO8.signatures 0 3 " + (directory.path() / "no" / "such" / "dir").string() + "\n", 1,
         refused("mem dump cannot write")},
    });
}

TEST_F(CliToolTest, AReadLargerThanAMessageComesInStepsAsOne)
{
    // 12 MiB: more than one "get" may ask for and one reply may carry. DEMO32 has 256 KiB of
    // flash at 0 and nothing after it for a while.
    const auto run = runShell(kDemo32 + "mem read $tool.DEMO32.base 0 12582912\n", "--json");
    EXPECT_EQ(run.exitCode, 1);
    const auto start = run.output.rfind("\n{") + 1;
    const auto outcome = boost::json::parse(run.output.substr(start)).as_object();
    std::vector<std::uint8_t> bytes;
    base64_decode(outcome.at("data").at("bytes").as_string(), bytes);
    EXPECT_EQ(bytes.size(), 12u << 20);
    // The steps' failed runs are one run.
    EXPECT_EQ(boost::json::serialize(outcome.at("data").at("failed")), R"([{"addr":262144,"size":12320768,"stat":1,"msg":""}])");
    EXPECT_EQ(boost::json::serialize(outcome.at("error")),
              R"J({"code":1,"message":"line 4: 12320768 byte(s) at 0x00040000 failed: no memory there (status 1)"})J");
}

TEST_F(CliToolTest, NoPrinterLeavesItsFormattingOnTheStream)
{
    // Bytes below 0x10 once came out as "50" for 05 after a printer that aligned left.
    const std::string read = "mem read $tool.DEMO32.base 0x20000000 4\n";
    const std::string dump = "0x20000000  00 05 0f 10";
    const auto run = runShell(kDemo32 + "mem write $tool.DEMO32.base 0x20000000 00050f10\n" +
                              read + "regs $tool.DEMO32\n" + read + "device DEMO32\n" + read + "device DEMO32 group UART0 UART0\n" +
                              read + "device DEMO32 peripherals\n" + read + "devices\n" + read +
                              "peripheral $tool.DEMO32 UART0\n" + read + "upgrade $tool\n" + read);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::size_t dumps = 0;
    for (auto at = run.output.find(dump); at != std::string::npos; at = run.output.find(dump, at + 1))
        ++dumps;
    EXPECT_EQ(dumps, 8u) << run.output;
}

TEST_F(CliToolTest, TourNarratesEachStepAndItsResult)
{
    const auto run = runCli(connectTo(backend) + "tour");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_THAT(run.output, AllOf(HasSubstr("\n# Set up the simulator, simulating the 8-bit DEMO8, and connect it:\n"
                                            "$ setup simulator\nsimulator-1\n"),
                                  HasSubstr("$ mem read simulator-1.DEMO8.data 0x100 16\n0x00000100  48 65 6c 6c 6f 00 00 00 "
                                            "00 00 00 00 00 00 00 00  |Hello...........|\n"),
                                  HasSubstr("$ teardown simulator-1\nsimulator-1 torn down\n")));
    // A second tour in the same back-end finds the session of the first gone with its tool.
    EXPECT_EQ(runCli(connectTo(backend) + "tour").exitCode, 0);
}

TEST(CliTourOnQemu, RunsTheFirmwareAndShowsWhatItPrints)
{
    if (std::string(HIL_FIRMWARE_ELF).empty() || gdbremote::QemuProcess::executable().empty())
        GTEST_SKIP() << "needs qemu-system-arm and arm-none-eabi-gcc";
    fakes::TempDirectory directory;
    BackendProcess backend(BackendProcess::withShippedBundles(directory.path()));
    const auto run = runCli(connectTo(backend) + "tour");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    // Watching starts after the resume: the greeting may come before it, the ticks come on. The
    // firmware enabled UART0's transmitter, and the peripheral view reads it so from QEMU.
    EXPECT_THAT(run.output, AllOf(HasSubstr("$ mem read gdbremote-1.MPS2-AN385.base 0x20001000 16\n0x20001000  48 65 6c 6c 6f"),
                                  HasSubstr("sp      0x20800000\n"), HasSubstr("Message message [MPS2-AN385] tick "),
                                  HasSubstr("  0x40004008  CTRL          0x00000001\n      TXEN            [0]     1\n"),
                                  HasSubstr("$ teardown gdbremote-1\ngdbremote-1 torn down\n")));
}

TEST(CliOnQemu, DoesWhatWasAskedAndSaysWhenTheServerRefused)
{
    if (std::string(HIL_FIRMWARE_ELF).empty() || gdbremote::QemuProcess::executable().empty())
        GTEST_SKIP() << "needs qemu-system-arm and arm-none-eabi-gcc";
    fakes::TempDirectory directory;
    BackendProcess backend(BackendProcess::withShippedBundles(directory.path()));
    std::filesystem::copy_file(HIL_FIRMWARE_ELF, directory.path() / "fw.elf");
    // The kernel is named relative to the CLI's folder, not the back-end's; "tcp" is set up by
    // its short name though no server is there to be polled; a debugging session leaves the PC
    // where it was; a reset command the server does not know is an error, with its words.
    const auto script = directory.write("script.txt", "setup gdbremote tcp '{\"Port\":1}'\n"
                                                      "setup gdbremote qemu '{\"Kernel\":\"fw.elf\"}'\n"
                                                      "tool $tool set '{\"ResetCommand\":\"reset halt\"}'\n"
                                                      "tool $tool connect\n"
                                                      "reg set $tool.MPS2-AN385.pc 0x4D2\n"
                                                      "session start $tool.MPS2-AN385 debug\n"
                                                      "reg get $tool.MPS2-AN385.PC\n"
                                                      "tool $tool special reset\n");
    const auto run = runCommand("cd " + directory.path().string() + " && " + cli(connectTo(backend) + "shell < script.txt"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "gdbremote-1\ngdbremote-2\nproperties set\nconnected\npc = 0x000004D2\n"
                          "DebuggingSession started\n0x000004D2\nerror: line 8: reset failed: The GDB server did not "
                          "take the reset command \"reset halt\": unknown command: 'reset' (set the tool's "
                          "\"ResetCommand\" to the reset its monitor knows) (code 0x20040)\n");
}

TEST(CliTargets, AKeptTargetOutlivesItsClientAndTheBackEndItsFile)
{
    fakes::TempDirectory directory;
    auto options = BackendProcess::withShippedBundles(directory.path());
    std::ofstream(directory.path() / "preferences.properties", std::ios::app)
        << "targets.file = " << (directory.path() / "targets.json").string() << "\n";
    auto backend = std::make_unique<BackendProcess>(options);
    const auto run = [&](const std::string& arguments) { return runCli(connectTo(*backend) + arguments); };
    const std::string board = "board        simulator-1    simulator-1.DEMO32           Ready    simulator\n";
    // Each line is a client of its own: what one kept, the next finds under its name.
    expectAll(
        {
            {"target add board simulator '' '{}' '{\"DeviceName\":\"DEMO32\"}'", 0, board},
            {"mem write board.base 0x20000000 cafe", 0, "wrote 2 byte(s)\n"},
            {"mem read board.base 0x20000000 2", 0, StartsWith("0x20000000  ca fe ")},
            {"tool board voltage", 0, "3.3 V\n"},
            {"regs board", 0, HasSubstr("PC ")},
            {"targets", 0, board},
            {"target add board simulator", 1, HasSubstr("a target is called board already")},
            {"target add 9lives simulator", 1, HasSubstr("not '9lives'")},
            {"setup simulator", 0, "simulator-2\n"},
            {"tool simulator-2 connect", 1,
             "error: Invalid context simulator-2, (code 16); tools live as long as the client that set them up; use "
             "`target add` to keep one\n"},
        },
        run);
    // The next back-end sets it up again from the file, as it was set up.
    backend = std::make_unique<BackendProcess>(options);
    expectAll({{"targets", 0, board}, {"mem read board.base 0x20000000 2", 0, StartsWith("0x20000000  00 00 ")},
               {"target remove board", 0, "board removed\n"}, {"targets", 0, ""}},
              run);
    EXPECT_EQ(fakes::readFile(directory.path() / "targets.json"), "[]\n");
    // QEMU, started by the thread of a client that is gone, runs on for the next.
    if (!std::string(HIL_FIRMWARE_ELF).empty() && !gdbremote::QemuProcess::executable().empty()) {
        EXPECT_EQ(run("target add q gdbremote qemu '{\"Kernel\":\"" + std::string(HIL_FIRMWARE_ELF) + "\"}'").exitCode, 0);
        EXPECT_THAT(run("reg get q.sp").output, "0x20800000\n");
    }
    // A target that could not be saved is not kept: it would not come back.
    std::ofstream(directory.path() / "preferences.properties", std::ios::app) << "targets.file = /proc/none/targets.json\n";
    backend = std::make_unique<BackendProcess>(options);
    expectAll({{"target add board simulator", 1, HasSubstr("cannot write /proc/none/targets.json")}, {"targets", 0, ""}}, run);
}

TEST(CliAgainstAStrangeBackEnd, AReplyOfAnUnexpectedShapeIsAClearErrorNotACrash)
{
    // A back-end whose "Memory" answers a range error list that is an object, and whose
    // "Registers" lists children that are a number.
    tcf::TcfServer server(tcf::TcfServer::Limits{});
    server.registerService("Memory", [](tcf::ICommandChannel& channel, const tcf::Token& token, const std::string&,
                                        const std::vector<std::string>&) { channel.sendReply(token, {"\"AAAA\"", "", "{}"}); });
    server.registerService("Registers", [](tcf::ICommandChannel& channel, const tcf::Token& token, const std::string&,
                                           const std::vector<std::string>&) { channel.sendReply(token, {"", "42"}); });
    const std::string connect = "--connect 127.0.0.1:" + std::to_string(server.start("127.0.0.1", 0)) + " ";
    for (const std::string verb : {"mem read m 0 3", "regs d"}) {
        const auto run = runCli(connect + verb);
        EXPECT_EQ(run.exitCode, 3) << verb;
        EXPECT_THAT(run.output, HasSubstr("error: the back-end's reply has a shape this CLI does not know")) << verb;
    }
    server.stop();
}

} // namespace
} // namespace hil::e2e
