// SPDX-License-Identifier: Apache-2.0
// The CLI's debugging verbs against the real back-end and a Cortex-M3 on QEMU running the test
// firmware (on_tick at 0x400, called every 1024 counts of the word tick_count at 0x20000000).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>

#include <boost/json.hpp>

#include "bundles/gdbremote/QemuProcess.h"
#include "tests/e2e/BackendProcess.h"
#include "tests/e2e/Terminal.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using testing::AllOf;
using testing::ContainsRegex;
using testing::HasSubstr;
using namespace std::chrono_literals;

const std::string kDevice = "gdbremote-1.MPS2-AN385";
const std::string kFirmware = HIL_FIRMWARE_ELF;

std::string cli(const std::string& arguments) { return std::string(HIL_CLI_PATH) + " " + arguments; }

/// Places inside reset_handler move with the compiler: "0x000004A4 (reset_handler+0x2e)" reads
/// "0x........ (reset_handler+...)", the entry itself "0x........ (reset_handler)".
std::string withoutResetHandlerOffsets(const std::string& output)
{
    static const std::regex kPlace("0x[0-9A-F]{8} \\(reset_handler(\\+0x[0-9a-f]+)?\\)");
    std::string result;
    auto last = output.cbegin();
    for (std::sregex_iterator at(output.begin(), output.end(), kPlace), end; at != end; ++at) {
        result.append(last, (*at)[0].first);
        result += (*at)[1].matched ? "0x........ (reset_handler+...)" : "0x........ (reset_handler)";
        last = (*at)[0].second;
    }
    return result.append(last, output.cend());
}

class CliDebugTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (kFirmware.empty() || gdbremote::QemuProcess::executable().empty())
            GTEST_SKIP() << "needs qemu-system-arm and arm-none-eabi-gcc";
        auto options = BackendProcess::withShippedBundles(directory.path());
        std::ofstream(directory.path() / "preferences.properties", std::ios::app)
            << "targets.file = " << (directory.path() / "targets.json").string() << "\n";
        backend = std::make_unique<BackendProcess>(options);
        connect = "--connect 127.0.0.1:" + std::to_string(backend->port()) + " ";
    }

    CommandRun run(const std::string& arguments) const { return runCommand(cli(connect + arguments)); }
    /// Runs the lines as a script with `run`, over one connection.
    CommandRun runScript(const std::string& lines) const
    {
        return run("run " + directory.write("script.txt", lines).string());
    }

    fakes::TempDirectory directory;
    std::unique_ptr<BackendProcess> backend;
    std::string connect;
};

TEST_F(CliDebugTest, AScriptHaltsStepsStopsAtABreakpointAndAWatchpointAndDeletesThem)
{
    const auto script = runScript("setup gdbremote qemu '{\"Kernel\":\"" + kFirmware + "\"}'\n"
                                  "tool $tool connect\n"
                                  "state --elf " + kFirmware + "\n"
                                  "halt\n"
                                  "step 10\n"
                                  "break on_tick\n"
                                  "breaks\n"
                                  "resume\n"
                                  "wait --timeout 60\n"
                                  "state\n"
                                  "breaks\n"
                                  "delete $bp\n"
                                  "watch-data tick_count 4 w\n"
                                  "resume\n"
                                  "wait --timeout 60\n"
                                  "breaks\n"
                                  "delete 2\n"
                                  "breaks\n");
    EXPECT_EQ(script.exitCode, 0) << script.output;
    // A connected QEMU holds the core at its reset vector; the ELF names each place from then on.
    EXPECT_EQ(withoutResetHandlerOffsets(script.output),
              "gdbremote-1\n"
              "connected\n"
              "stopped: Suspended at 0x........ (reset_handler)\n"
              "  #0  0x........ (reset_handler)\n"
              "halted already: Suspended at 0x........ (reset_handler)\n"
              "stepped 10 instructions to 0x........ (reset_handler+...)\n"
              "breakpoint 1 at 0x00000400 (on_tick), Software\n"
              "1  break           0x00000400 (on_tick)  Software  0 hit(s)\n"
              "running\n"
              "stopped: Breakpoint 1 at 0x00000400 (on_tick)\n"
              "stopped: Breakpoint 1 at 0x00000400 (on_tick)\n"
              "  #0  0x00000400 (on_tick)\n"
              "  #1  0x........ (reset_handler+...)\n"
              "1  break           0x00000400 (on_tick)  Software  1 hit(s)\n"
              "breakpoint 1 deleted\n"
              "watchpoint 2 at 0x20000000 (tick_count), write 4 byte(s), Hardware\n"
              "running\n"
              "stopped: Watchpoint 2 at 0x........ (reset_handler+...), data 0x20000000 (tick_count)\n"
              "2  write 4 byte(s)  0x20000000 (tick_count)  Hardware  1 hit(s)\n"
              "breakpoint 2 deleted\n"
              "no breakpoints\n");
}

TEST_F(CliDebugTest, WhatTheVerbsRefuseIsSaidClearly)
{
    // No target with run control yet: the simulator's has none.
    EXPECT_THAT(runScript("setup simulator\ntool $tool connect\nhalt\n").output,
                HasSubstr("line 3: halt: no target has run control (a simulator's targets have none"));
    const std::string qemu = "setup gdbremote qemu '{\"Kernel\":\"" + kFirmware + "\"}'\ntool $tool connect\n";
    const std::vector<std::pair<std::string, std::string>> refused{
        {"halt simulator-9.DEMO8\n", "halt: simulator-9.DEMO8 has no run control; these targets have: gdbremote-"},
        {"break nowhere\n", "break: nowhere is no address; a SYMBOL needs the ELF file it is in: --elf FILE"},
        {"break on_tik --elf " + kFirmware + "\n", "has no symbol on_tik; did you mean on_tick?"},
        {"watch-data 0x20000002 4\n", "watch-data: Breakpoint 1: a watchpoint of 4 bytes sits at a multiple of its size (code 15"},
        {"watch-data 0x20000000 3\n", "watch-data watches 1, 2, 4 or 8 bytes, not 3"},
        {"watch-data 0x20000000 4 x\n", "watch-data stops on r (reads), w (writes) or a (both), not 'x'"},
        {"delete 5\n", "delete: this client has no breakpoint 5"},
        {"resume\nresume\n", "line 4: resume: gdbremote-"},
        {"step 0\n", "step runs 1 to 100000 instructions, not 0"},
    };
    for (const auto& [lines, why] : refused) {
        const auto result = runScript(qemu + lines);
        EXPECT_NE(result.exitCode, 0) << lines;
        EXPECT_THAT(result.output, HasSubstr(why)) << lines;
    }
}

TEST_F(CliDebugTest, AResetRunsTheTargetAgainOrLeavesItHaltedAtItsResetVector)
{
    const auto script = runScript("setup gdbremote qemu '{\"Kernel\":\"" + kFirmware + "\"}'\n"
                                  "tool $tool connect\n"
                                  "step 5 --elf " + kFirmware + "\n"
                                  "reset --halt\n"
                                  "reset\n"
                                  "state\n");
    EXPECT_EQ(script.exitCode, 0) << script.output;
    EXPECT_EQ(withoutResetHandlerOffsets(script.output), "gdbremote-1\nconnected\n"
                                                         "stepped 5 instructions to 0x........ (reset_handler+...)\n"
                                                         "reset; halted at 0x........ (reset_handler)\n"
                                                         "reset; running\n"
                                                         "running\n");
}

TEST_F(CliDebugTest, VerbsRunAloneFindAKeptTargetAndCtrlCEndsAWait)
{
    ASSERT_EQ(run("target add q gdbremote qemu '{\"Kernel\":\"" + kFirmware + "\"}'").exitCode, 0);
    const std::string hint = "set it inside `hilcore-cli shell` or a script run by `hilcore-cli run FILE`, where it "
                             "lasts for the session";
    const std::vector<std::tuple<std::string, int, testing::Matcher<std::string>>> steps{
        {"halt q", 0, ContainsRegex("^halted already: Suspended at 0x[0-9A-F]{8}\n$")},
        {"step q 2 --elf " + kFirmware, 0, ContainsRegex("^stepped 2 instructions to 0x[0-9A-F]{8} \\(reset_handler\\+0x[0-9a-f]+\\)\n$")},
        // A breakpoint would go as the verb ends: it is refused, saying where it lasts.
        {"break q 0x400", 2, HasSubstr(hint)},
        {"watch-data 0x20000000 4", 2, HasSubstr(hint)},
        {"breaks", 0, HasSubstr("no breakpoints (a breakpoint goes with the client that set it")},
        {"resume q", 0, "running\n"},
        {"state", 0, "running\n"}, // the one target with run control
        {"resume q", 1, "error: resume: " + kDevice + " is running: suspend it first (code 12, service RunControl)\n"},
        {"wait q --timeout 0.2", 1, "error: wait: " + kDevice + " still runs after 0.2 s\n"},
        {"--json state q", 0, R"({"data":{"suspended":false,"pc":null,"reason":null,"symbol":null,"breakpoints":[],"data":{},"target":")" +
                                  kDevice + "\"}}\n"},
    };
    for (const auto& [arguments, exitCode, output] : steps) {
        const auto result = run(arguments);
        EXPECT_EQ(result.exitCode, exitCode) << arguments << "\n" << result.output;
        EXPECT_THAT(result.output, output) << arguments;
    }

    // Ctrl-C ends a wait, and the target runs on.
    Terminal waiting(cli(connect + "wait q"));
    ASSERT_TRUE(waiting.waitFor("waiting for " + kDevice + " to stop (Ctrl-C ends the wait)\n")) << waiting.output();
    waiting.typeCtrlC();
    const auto waited = waiting.finish();
    EXPECT_EQ(waited.exitCode, 130) << waited.output;
    EXPECT_THAT(waited.output, HasSubstr("error: wait: interrupted (the target goes on as it was)\n"));
    EXPECT_EQ(run("state q").output, "running\n");

    // watch shows the debugging services' events as another client's script causes them.
    Terminal watching(cli(connect + "watch RunControl Breakpoints"));
    ASSERT_TRUE(watching.waitFor("watching the events of RunControl, Breakpoints (Ctrl-C ends it)\n")) << watching.output();
    const auto script = runScript("break q 0x400\nwait q\ndelete $bp\nresume q\n");
    EXPECT_EQ(script.exitCode, 0) << script.output;
    // The script's last event: its resume.
    EXPECT_TRUE(watching.waitFor("RunControl contextResumed ")) << watching.output();
    watching.typeCtrlC();
    const auto watched = watching.finish();
    EXPECT_EQ(watched.exitCode, 0) << watched.output;
    const std::string id = "hilcore-cli\\.[^ ]+\\.1";
    EXPECT_THAT(watched.output,
                AllOf(ContainsRegex(" Breakpoints contextAdded " + id + "\n"),
                      ContainsRegex(" Breakpoints status " + id + " " + kDevice + " 0x00000400 Software 0 hit\\(s\\)\n"),
                      ContainsRegex(" RunControl contextSuspended " + kDevice + " Breakpoint " + id + " at 0x00000400\n"),
                      ContainsRegex(" Breakpoints contextRemoved " + id + "\n"),
                      ContainsRegex(" RunControl contextResumed " + kDevice + "\n")));

    EXPECT_THAT(run("halt q").output, ContainsRegex("^halted at 0x[0-9A-F]{8}\n$"));
    // A stopped target is waited for no time: a wait after the stop still says it.
    const auto stopped = run("wait q --timeout 0");
    EXPECT_EQ(stopped.exitCode, 0) << stopped.output;
    EXPECT_THAT(stopped.output, ContainsRegex("^stopped: Suspended at 0x[0-9A-F]{8}\n$"));
    EXPECT_EQ(run("target remove q").exitCode, 0);
}

} // namespace
} // namespace hil::e2e
