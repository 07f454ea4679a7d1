// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

#include <boost/json.hpp>

#include "bundles/gdbremote/QemuProcess.h"
#include "platform/common/Base64.h"
#include "platform/tcf/TcfServer.h"
#include "tests/e2e/BackendProcess.h"
#include "tests/fakes/IntelHex.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using testing::HasSubstr;

using CliRun = CommandRun;

CliRun runCli(const std::string& arguments)
{
    return runCommand(std::string(HIL_CLI_PATH) + " " + arguments);
}

/// The option that points the CLI at `backend`, with the space after it.
std::string connectTo(const BackendProcess& backend)
{
    return "--connect 127.0.0.1:" + std::to_string(backend.port()) + " ";
}

/// Shell lines that set up the simulator on DEMO32 and connect it.
const std::string kDemo32 = "setup simulator\ntool $tool set '{\"DeviceName\":\"DEMO32\"}'\ntool $tool connect\n";

class CliTest : public testing::Test {
protected:
    std::string connect() const { return connectTo(backend); }
    BackendProcess backend{BackendProcess::withTestBundles()};
};

TEST_F(CliTest, ServicesListsThePeersHello)
{
    const auto run = runCli(connect() + "services");
    EXPECT_EQ(run.exitCode, 0);
    std::string lines;
    boost::json::array names;
    for (const auto& service : kTestBundleServices) {
        lines += service + "\n";
        names.emplace_back(service);
    }
    EXPECT_EQ(run.output, lines);
    EXPECT_EQ(runCli(connect() + "--json services").output,
              boost::json::serialize(boost::json::object{{"data", names}}) + "\n");
}

TEST_F(CliTest, CallPrintsValuesPrettyOrAsJson)
{
    runCli(connect() + "call Echo addContext '\"a\"' '\"\"'");
    const auto run = runCli(connect() + "call Echo getChildren '\"\"'");
    EXPECT_EQ(run.exitCode, 0);
    // The context was cleaned up with the client that made it, so the list is empty again.
    EXPECT_EQ(run.output, "[]\n");
    // One object a verb: the values that are not the error slot as data, or the error.
    EXPECT_EQ(runCli(connect() + "--json call Echo progress 2").output, "{\"data\":2}\n");
    const auto failed = runCli(connect() + "--json call Echo getContext '\"nope\"'");
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.output, R"J({"data":null,"error":{"code":16,"message":"Invalid context nope, (code 16)"}})J"
                             "\n");
    EXPECT_EQ(runCli("--json frobnicate").output,
              R"J({"data":null,"error":{"code":2,"message":"unknown verb frobnicate (help lists every verb)"}})J"
              "\n");
}

TEST_F(CliTest, ErrorRepliesAreReadableAndExitOneAndBadCommandLinesExitTwo)
{
    const auto run = runCli(connect() + "call Echo getContext '\"nope\"'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "error: Invalid context nope, (code 16)\n");
    const auto unknown = runCli(connect() + "call Nowhere getChildren '\"\"'");
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_THAT(unknown.output, HasSubstr("does not offer Nowhere getChildren"));

    EXPECT_EQ(runCli(connect() + "call Echo").exitCode, 2);
    const auto notJson = runCli(connect() + "call Echo getContext word");
    EXPECT_EQ(notJson.exitCode, 2);
    EXPECT_THAT(notJson.output, HasSubstr("not JSON"));
    const auto misspelt = runCli("memm");
    EXPECT_EQ(misspelt.exitCode, 2);
    EXPECT_EQ(misspelt.output, "error: unknown verb memm; did you mean mem? (help lists every verb)\n");
    EXPECT_EQ(runCli("--help").exitCode, 0);
    // The back-end was asked for no service it lacks, and said so at once.
    const auto watch = runCli(connect() + "watch --for 60 Echo Nowhere");
    EXPECT_EQ(watch.exitCode, 2);
    EXPECT_THAT(watch.output, HasSubstr("the back-end has no service Nowhere"));
}

TEST_F(CliTest, AnErrorInAScriptNamesItsLineAndABareArgumentErrorNamesTheCommand)
{
    fakes::TempDirectory directory;
    const auto script = directory.write("script.txt", "services\n\ncall Echo sleep '\"x\"'\nservices\n");
    const auto run = runCli(connect() + "shell < " + script.string());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.output, testing::EndsWith("error: line 3: Echo sleep was refused: the back-end has no such command, "
                                              "or an argument is missing, extra or of the wrong kind (docs/protocol.md "
                                              "says what each command takes) (code 3)\n"));
}

TEST_F(CliTest, RunRunsAFileAsAScriptAndAShellAtATerminalKeepsItsHistory)
{
    fakes::TempDirectory home;
    const auto script = home.write("steps.txt", "services\nexit\nfrobnicate\n");
    // "exit" ends the script before the bad line; a bad line is named with the file.
    EXPECT_EQ(runCli(connect() + "run " + script.string()).exitCode, 0);
    const auto failing = runCli(connect() + "run " + home.write("bad.txt", "services\nfrobnicate\n").string());
    EXPECT_EQ(failing.exitCode, 2);
    EXPECT_THAT(failing.output, HasSubstr("error: " + (home.path() / "bad.txt").string() + " line 2: unknown verb"));
    // A pseudo-terminal makes the shell interactive: it prompts, and keeps what was typed.
    const auto typed = runCommand("printf 'services\\nquit\\n' | HOME=" + home.path().string() + " XDG_DATA_HOME= timeout 20 script -qec '" +
                                  std::string(HIL_CLI_PATH) + " " + connect() + "shell' /dev/null");
    EXPECT_THAT(typed.output, HasSubstr("hil> services"));
    EXPECT_THAT(typed.output, HasSubstr("Echo"));
    std::ifstream history(home.path() / ".local/share/hilcore/history");
    const std::string kept{std::istreambuf_iterator<char>(history), std::istreambuf_iterator<char>()};
    EXPECT_THAT(kept, HasSubstr("services\nquit"));
}

TEST(CliWithoutBackend, VersionHelpAndTheEnvironmentsBackEnd)
{
    EXPECT_THAT(runCli("--version").output, testing::MatchesRegex("hilcore-cli [0-9]+\\.[0-9]+\\.[0-9]+ \\(.+\\)\n"));
    EXPECT_THAT(runCommand(std::string(HIL_BACKEND_PATH) + " --version").output,
                testing::StartsWith("hilcore-backend "));
    // The same table gives every verb's help, one way or the other, without a back-end.
    const auto help = runCli("--connect 127.0.0.1:1 help mem");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.output, HasSubstr("mem read|write|fill|dump|restore ID ADDRESS ...\n"));
    EXPECT_THAT(help.output, HasSubstr("    read ID ADDRESS COUNT: read COUNT bytes and show them as a hex dump\n"));
    EXPECT_EQ(runCli("--connect 127.0.0.1:1 mem --help").output, help.output);
    EXPECT_EQ(runCli("help frobnicate").exitCode, 2);
    const auto fromEnvironment = runCommand("HILCORE_CONNECT=127.0.0.1:1 " + std::string(HIL_CLI_PATH) + " services");
    EXPECT_EQ(fromEnvironment.exitCode, 3);
    EXPECT_THAT(fromEnvironment.output, HasSubstr("cannot connect to 127.0.0.1:1"));
    EXPECT_EQ(runCommand("HILCORE_CONNECT=nowhere " + std::string(HIL_CLI_PATH) + " services").exitCode, 2);
}

class CliToolTest : public testing::Test {
protected:
    /// Runs `lines` through `hilcore-cli shell` over one connection.
    CliRun runShell(const std::string& lines, const std::string& options = "") const
    {
        const auto script = directory.write("script.txt", lines);
        return runCli(connectTo(backend) + options + " shell < " + script.string());
    }

    fakes::TempDirectory directory;
    BackendProcess backend{BackendProcess::withProbeDirectory(directory.path())};
};

TEST_F(CliToolTest, ShellKeepsTheToolSetUpAcrossLines)
{
    const auto run = runShell("setup simulator\n"
                              "tool $tool connect\n"
                              "tool $tool voltage\n"
                              "tool $tool raw 01cafe\n"
                              "tool $tool text echo two words\n"
                              "teardown $tool\n");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "simulator-1\nconnected\n3.3 V\ncafe\ntwo words\nsimulator-1 torn down\n");
}

TEST_F(CliToolTest, AScriptStopsAtTheFirstFailureAndAnUpgradeDrawsItsProgress)
{
    const auto run = runShell("setup simulator\ntool $tool firmware\ntool $tool connect\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "simulator-1\nerror: line 2: Firmware 1.0 is older than 1.1; run startUpgrade (code 0x20022)\n");
    EXPECT_EQ(runShell("tool $tool connect\n").exitCode, 2) << "$tool is unset in a fresh shell";

    const auto upgrade = runShell("setup simulator\nupgrade $tool\ntool $tool firmware\n");
    EXPECT_EQ(upgrade.exitCode, 0) << upgrade.output;
    EXPECT_THAT(upgrade.output, HasSubstr("[######------------------------]  20% writing\n"));
    EXPECT_THAT(upgrade.output, HasSubstr("[##############################] 100% writing\nupgrade finished\nfirmware is current\n"));
}

TEST_F(CliToolTest, AttachedListsPluggedInProbesAndSetupTakesShortNames)
{
    directory.write("probes/p.probe", R"({"SerialNumber":"VP-7"})");
    const auto connect = connectTo(backend);
    EXPECT_EQ(runCli(connect + "attached").output,
              "com.velmora.hil.simulator\n"
              "com.velmora.hil.virtualprobe via com.velmora.hil.connection.virtual {\"SerialNumber\":\"VP-7\"}\n");
    EXPECT_EQ(runCli(connect + "setup virtualprobe virtual '{\"SerialNumber\":\"VP-7\"}'").output, "virtualprobe-1\n");
    const auto unknown = runCli(connect + "setup nosuchtool");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_THAT(unknown.output, HasSubstr("no tool type is called nosuchtool (known: com.velmora.hil.simulator, "));
}

TEST_F(CliToolTest, DeviceVerbsDescribeAndDriveTheSimulatedDevice)
{
    const auto run = runShell("device DEMO8 props SIGNATURES\n"
                              "device DEMO8 group PORT PORT2\n"
                              "setup simulator\n"
                              "tool $tool connect\n"
                              "session start $tool.DEMO8 debug\n"
                              "erase $tool.DEMO8\n"
                              "session end $tool.DEMO8\n");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "SIGNATURE0 = 0x1E\nSIGNATURE1 = 0x95\nSIGNATURE2 = 0x0D\n"
                          "PORT2: 3 bytes at 0x29 in data\n"
                          "  0x29        PIN         1 byte(s)  PIN=0xFF\n"
                          "  0x2A        DDR         1 byte(s)  DDR=0xFF\n"
                          "  0x2B        PORT        1 byte(s)  PORT=0xFF\n"
                          "simulator-1\nconnected\nDebuggingSession started, signature 0x1E950D\nerased\nsession ended\n");
    const auto missing = runShell("device DEMO8 module DMA\n");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.output, "error: line 1: Could not get Module DMA for DEMO8 (code 0x20030)\n");
    EXPECT_EQ(runShell("device DEMO8 frobnicate\n").exitCode, 2);
}

TEST_F(CliToolTest, PackVerbsListDevicesAndShowAPeripheralReadFromTheTarget)
{
    const auto devices = runShell("devices cm3\ndevice CMSDK_CM3 peripherals\n");
    EXPECT_EQ(devices.exitCode, 0) << devices.output;
    EXPECT_THAT(devices.output, testing::StartsWith("CMSDK_CM3               CORTEX-M3     ARM Ltd.            "));
    EXPECT_THAT(devices.output, testing::Not(HasSubstr("DEMO8"))) << "the filter reads names, vendors and families";
    EXPECT_THAT(devices.output, HasSubstr("\nUART0           0x40004000   UART 0\n"));

    // SR holds RXNE (bit 5) and TXE (bit 7); DR is a FIFO, which the view must not read.
    const std::string setup =
        kDemo32 + "mem write $tool.DEMO32.base 0x40011000 a0000000\nmem write $tool.DEMO32.base 0x40011008 0d000000\n";
    const auto view = runShell(setup + "peripheral $tool.DEMO32 uart0\n");
    EXPECT_EQ(view.exitCode, 0) << view.output;
    EXPECT_THAT(view.output, HasSubstr("UART0 at 0x40011000\n"
                                       "  0x40011000  SR            0x000000A0\n"
                                       "      RXNE            [5]     1\n"
                                       "      TXE             [7]     1\n"
                                       "  0x40011004  DR            (not read: reading it changes the target)\n"
                                       "  0x40011008  BRR           0x0000000D\n"));
    const auto json = runShell(setup + "peripheral $tool.DEMO32 UART0\n", "--json");
    const auto last = json.output.substr(json.output.rfind('\n', json.output.size() - 2) + 1);
    const auto registers = boost::json::parse(last).at("data").at("registers").as_array();
    EXPECT_EQ(registers.at(0).at("value"), 0xA0);
    EXPECT_EQ(registers.at(0).at("fields").at(1).at("value"), 1);
    EXPECT_TRUE(registers.at(1).at("value").is_null());

    const auto unknown = runShell(setup + "peripheral $tool.DEMO32 GPIOZ\n");
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_THAT(unknown.output, HasSubstr("device DEMO32 has no peripheral GPIOZ (code 1, service Packs)"));
}

TEST_F(CliToolTest, MemoryAndRegisterVerbsDumpWriteAndFill)
{
    const std::string setup = "setup simulator\ntool $tool connect\n";
    const auto run = runShell(setup + "mem write $tool.DEMO8.data 0x100 48690a\n"
                                      "mem fill $tool.DEMO8.data 0x8F8 4 0xAA\n"
                                      "mem read $tool.DEMO8.data 0x8F8 4\n"
                                      "mem read $tool.DEMO8.data 0x100 3\n"
                                      "reg set $tool.DEMO8.SP 0x8FF\n"
                                      "reg get $tool.DEMO8.SP\n");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "simulator-1\nconnected\nwrote 3 byte(s)\nfilled 4 byte(s)\n"
                          "0x000008F8  aa aa aa aa                                      |....|\n"
                          "0x00000100  48 69 0a                                         |Hi.|\n"
                          "SP = 0x08FF\n0x08FF\n");
    const auto regs = runShell(setup + "regs $tool.DEMO8\n");
    EXPECT_THAT(regs.output, HasSubstr("R31     0x00\nSREG    0x00\nSP      0x0000\nPC      0x0000\n"));
    const auto wide = runShell(setup + "reg set $tool.DEMO8.SREG 256\n");
    EXPECT_EQ(wide.exitCode, 2);
    EXPECT_THAT(wide.output, HasSubstr("error: line 3: reg set: 256 does not fit the 1 byte(s) of SREG"));
    EXPECT_EQ(runShell("mem read x 0x zz\n").exitCode, 2);
}

TEST_F(CliToolTest, ATransferOfWhichAnyByteFailedSaysWhichAndWhyAndExitsOne)
{
    const std::string setup = "setup simulator\ntool $tool connect\n";
    struct Case {
        std::string line;
        std::string printed;
    };
    const std::vector<Case> cases{
        {"mem fill $tool.DEMO8.data 0x8FC 8 0xAA", "filled 4 of 8 byte(s)\n"},
        {"mem write $tool.DEMO8.data 0x8FE 01020304", "wrote 2 of 4 byte(s)\n"},
        // A read shows what it got, "--" where it got nothing.
        {"mem read $tool.DEMO8.data 0x8FC 8", "0x000008FC  00 00 00 00 -- -- -- --                          |....    |\n"},
    };
    for (const auto& sample : cases) {
        const auto run = runShell(setup + sample.line + "\nteardown $tool\n");
        EXPECT_EQ(run.exitCode, 1) << sample.line;
        const auto failedBytes = sample.line.find("0x8FE") != std::string::npos ? "2" : "4";
        EXPECT_THAT(run.output, testing::EndsWith("\nconnected\n" + sample.printed + "error: line 3: " + failedBytes +
                                                  " byte(s) at 0x00000900 failed: outside the address space (status 2)\n"))
            << sample.line;
    }
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
    EXPECT_THAT(run.output, HasSubstr("0x20000100  de ad be ef"));
    EXPECT_THAT(run.output, HasSubstr("of binary into simulator-1.DEMO32\nverified 8 byte"));
    EXPECT_THAT(run.output, HasSubstr("|firmware|"));
    if (!std::string(HIL_FIRMWARE_ELF).empty()) {
        const auto elf = runShell(kDemo32 + "load " + std::string(HIL_FIRMWARE_ELF) + " --verify\n");
        EXPECT_EQ(elf.exitCode, 0) << elf.output;
        EXPECT_THAT(elf.output, HasSubstr("of ELF into simulator-2.DEMO32\nverified "));
    }

    struct Refusal {
        std::string line;
        int exitCode;
        std::string why;
    };
    const std::string demo8 = "setup simulator\ntool $tool connect\n";
    const std::vector<Refusal> refusals{
        {"load " + directory.write("notes.txt", "hello").string(), 2, "is neither an ELF nor an Intel HEX file"},
        {"load " + hex.string(), 2, "4 byte(s) at 0x20000100 lie in no address space of simulator-"},
        {"load " + directory.write("sig.bin", "abc").string() + " --address 0 --space $tool.DEMO8.signatures", 1,
         "3 byte(s) at 0x00000000 failed: read-only (status 3)"},
        {"load " + binary.string(), 2, "a binary image needs --address"},
        // A file this side cannot use is no fault of the command line.
        {"load " + directory.write("broken.hex", ":04000000DEADBEEF00\n").string(), 1, "broken.hex line 1"},
        {"load " + (directory.path() / "absent.hex").string(), 1, "cannot read"},
        {"mem dump $tool.DEMO8.signatures 0 3 " + (directory.path() / "no" / "such" / "dir").string(), 1, "mem dump cannot write"},
    };
    for (const auto& refusal : refusals) {
        const auto refused = runShell(demo8 + refusal.line + "\n");
        EXPECT_EQ(refused.exitCode, refusal.exitCode) << refusal.line << "\n" << refused.output;
        EXPECT_THAT(refused.output, HasSubstr(refusal.why)) << refusal.line;
        EXPECT_THAT(refused.output, testing::Not(HasSubstr("loaded"))) << refusal.line;
    }
}

TEST_F(CliToolTest, AReadLargerThanAMessageComesInStepsAsOne)
{
    // 12 MiB: more than one "get" may ask for and one reply may carry. DEMO32 has 256 KiB of
    // flash at 0 and nothing after it for a while.
    const auto run = runShell(kDemo32 + "mem read $tool.DEMO32.base 0 12582912\n",
                              "--json");
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

TEST_F(CliToolTest, StimuliVerbsListTypesAndNamePorts)
{
    const auto run = runShell("stimuli types\nsetup simulator\ntool $tool connect\nstimuli designate $tool.DEMO8 bench\n");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "com.velmora.hil.simulator.stimuli\nsimulator-1\nconnected\n"
                          "the stimuli port of simulator-1.DEMO8 is bench\n");
    const auto missing = runShell("stimuli designate nothing bench\n");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_THAT(missing.output, HasSubstr("error: line 1: Invalid context nothing,"));
    EXPECT_EQ(runShell("stimuli frobnicate\n").exitCode, 2);
}

TEST_F(CliToolTest, TourNarratesEachStepAndItsResult)
{
    const auto run = runCli(connectTo(backend) + "tour");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_THAT(run.output, HasSubstr("\n# Set up the simulator, simulating the 8-bit DEMO8, and connect it:\n"
                                      "$ setup simulator\nsimulator-1\n"));
    EXPECT_THAT(run.output, HasSubstr("$ mem read simulator-1.DEMO8.data 0x100 16\n"
                                      "0x00000100  48 65 6c 6c 6f 00 00 00 00 00 00 00 00 00 00 00  |Hello...........|\n"));
    EXPECT_THAT(run.output, HasSubstr("$ teardown simulator-1\nsimulator-1 torn down\n"));
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
    EXPECT_THAT(run.output, HasSubstr("$ mem read gdbremote-1.MPS2-AN385.base 0x20001000 16\n"
                                      "0x20001000  48 65 6c 6c 6f"));
    EXPECT_THAT(run.output, HasSubstr("sp      0x20800000\n"));
    // Watching starts after the resume: the greeting may come before it, the ticks come on.
    EXPECT_THAT(run.output, HasSubstr("Message message [MPS2-AN385] tick "));
    // The firmware enabled UART0's transmitter, and the peripheral view reads it so from QEMU.
    EXPECT_THAT(run.output, HasSubstr("  0x40004008  CTRL          0x00000001\n      TXEN            [0]     1\n"));
    EXPECT_THAT(run.output, HasSubstr("$ teardown gdbremote-1\ngdbremote-1 torn down\n"));
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

TEST(CliWithoutBackend, ConnectionRefusedExitsThree)
{
    // Port 1 on loopback is never ours.
    const auto run = runCli("--connect 127.0.0.1:1 services");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_THAT(run.output, HasSubstr("cannot connect to 127.0.0.1:1"));
    // Help needs no back-end.
    const auto help = runCli("--connect 127.0.0.1:1 help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.output, HasSubstr("a five-minute tour"));
}

} // namespace
} // namespace hil::e2e
