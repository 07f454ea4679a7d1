// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <tuple>

#include <boost/json.hpp>

#include "cli/CliCommands.h"
#include "cli/FirmwareImage.h"
#include "cli/RunControlWords.h"
#include "tests/cli/ElfWriter.h"

namespace hil::cli {
namespace {

using testing::ElementsAre;

TEST(CliWords, SplitLikeAShell)
{
    EXPECT_THAT(splitWords(R"(  a  'b c'  "d \" e"  f'g'h )"), ElementsAre("a", "b c", "d \" e", "fgh"));
    EXPECT_THAT(splitWords("x ''"), ElementsAre("x", ""));
    EXPECT_THAT(splitWords(R"(special setVoltage '{"Volts":1.8}')"), ElementsAre("special", "setVoltage", R"({"Volts":1.8})"));
    // A word that starts with # starts a comment; one inside a word or quotes is text.
    EXPECT_THAT(splitWords("mem read x 0x10 4   # a dump"), ElementsAre("mem", "read", "x", "0x10", "4"));
    EXPECT_THAT(splitWords("echo a#b '#c'"), ElementsAre("echo", "a#b", "#c"));
    EXPECT_THAT(splitWords("# only a comment"), testing::IsEmpty());
    EXPECT_THROW(splitWords("'open"), UsageError);
    EXPECT_THROW(splitWords("\"open"), UsageError);
}

TEST(CliWords, VariablesAreReplacedInsideWords)
{
    const std::map<std::string, std::string> variables{{"tool", "simulator-1"}};
    EXPECT_EQ(substituteVariables("$tool", variables), "simulator-1");
    EXPECT_EQ(substituteVariables("$tool.DEMO8", variables), "simulator-1.DEMO8");
    EXPECT_EQ(substituteVariables("a$tool-$tool", variables), "asimulator-1-simulator-1");
    EXPECT_EQ(substituteVariables("cost: 5$", variables), "cost: 5$");
    EXPECT_THROW(substituteVariables("$device", variables), UsageError);
}

TEST(CliOutput, NumbersReadAsTheyWereMeant)
{
    EXPECT_EQ(prettyJson(boost::json::parse(R"({"Volts":3.3E0,"Count":2})")), "{\n  \"Volts\": 3.3,\n  \"Count\": 2\n}");
}

TEST(CliOutput, ErrorReportsShowLargeCodesInHex)
{
    EXPECT_EQ(errorReportMessage(boost::json::parse(R"({"Code":131106,"Format":"gone"})")), "gone (code 0x20022)");
    EXPECT_EQ(errorReportMessage(boost::json::parse(R"({"Code":16,"Service":"Tool","Format":"x"})")),
              "x (code 16, service Tool)");
    EXPECT_EQ(errorReportMessage(boost::json::parse(R"("not a report")")), "");
    // A bare argument error names the command and what can be wrong with it.
    EXPECT_THAT(errorReportMessage(boost::json::parse(R"({"Code":3})"), "Memory get"),
                testing::AllOf(testing::StartsWith("Memory get was refused: "), testing::HasSubstr("wrong kind"),
                               testing::EndsWith("(code 3)")));
}

TEST(CliOutput, EventsPrintShortAndReadablyAndWholeAsJson)
{
    const auto printed = [](bool json, const std::string& service, const std::string& name,
                            const std::vector<std::string>& arguments) {
        std::ostringstream out;
        printEvent(out, json, json ? "12:00:00.000" : "", service, name, arguments);
        return out.str();
    };
    const std::vector<std::string> message{R"("sim-1.DEMO8.messages")", R"("DEMO8")", R"("Flash erased")"};
    EXPECT_EQ(printed(false, "Message", "message", message), "Message message [DEMO8] Flash erased  (sim-1.DEMO8.messages)\n");
    EXPECT_EQ(printed(true, "Message", "message", message),
              R"({"service":"Message","event":"message","arguments":["sim-1.DEMO8.messages","DEMO8","Flash erased"]})"
              "\n");
    // Short: contexts by their ids, the first four of a list and how many; other JSON cut to a line.
    EXPECT_EQ(printed(false, "Memory", "memoryChanged", {R"("m")", R"([{"addr":1,"size":2}])"}),
              R"(Memory memoryChanged m [{"addr":1,"size":2}])"
              "\n");
    EXPECT_EQ(printed(false, "Registers", "contextAdded",
                      {R"([{"ID":"a"},{"ID":"b"},{"ID":"c"},{"ID":"d"},{"ID":"e"},{"ID":"f"}])"}),
              "Registers contextAdded a b c d ... (6)\n");
    EXPECT_EQ(printed(false, "Tool", "contextChanged", {R"({"ID":"t-1","Name":"x"})", R"(")" + std::string(120, 'y') + "\""}),
              "Tool contextChanged t-1 " + std::string(120, 'y') + "\n");
    std::string numbers = "[12";
    for (int i = 0; i < 60; ++i)
        numbers += ",12";
    EXPECT_EQ(printed(false, "X", "y", {numbers + "]"}), "X y " + numbers.substr(0, 97) + "...\n");
    // Bytes in hex; the time stamp first when there is one, and never in the raw JSON.
    std::ostringstream stamped;
    printEvent(stamped, false, "09:05:01.020", "Device", "targetEvent", {R"("sim-1.DEMO8")", R"("AQID")"});
    EXPECT_EQ(stamped.str(), "09:05:01.020 Device targetEvent sim-1.DEMO8 bytes 010203\n");
    // A malformed message event still prints what it has.
    EXPECT_EQ(printed(false, "Message", "message", {R"("id")"}), "Message message []   (id)\n");
}

TEST(CliOutput, StopsPrintAsWaitSaysThemAndOtherEventsOfTheDebugServicesAsTheyCame)
{
    const auto printed = [](const std::string& service, const std::string& name, const std::vector<std::string>& arguments) {
        std::ostringstream out;
        printEvent(out, false, "", service, name, arguments);
        return out.str();
    };
    EXPECT_EQ(printed("RunControl", "contextSuspended", {R"("q-1.M")", "1024", R"("Breakpoint")", R"({"BPs":["eclipse-7"]})"}),
              "RunControl contextSuspended q-1.M Breakpoint eclipse-7 at 0x00000400\n");
    EXPECT_EQ(printed("RunControl", "contextSuspended", {R"("q-1.M")", "null", R"("Suspended")", "null"}),
              "RunControl contextSuspended q-1.M Suspended at an unknown place\n");
    EXPECT_EQ(printed("RunControl", "contextResumed", {R"("q-1.M")"}), "RunControl contextResumed q-1.M\n");
    EXPECT_EQ(printed("Breakpoints", "status",
                      {R"("b1")", R"({"Instances":[{"LocationContext":"q-1.M","Address":1024,"Size":2,"BreakpointType":"Software","HitCount":3}]})"}),
              "Breakpoints status b1 q-1.M 0x00000400 Software 3 hit(s)\n");
    EXPECT_EQ(printed("Breakpoints", "status",
                      {R"("b1")", R"({"Instances":[{"LocationContext":"q-1.M","Address":1,"BreakpointType":"Hardware","HitCount":0,"Error":"no room"}]})"}),
              "Breakpoints status b1 q-1.M 0x00000001 Hardware 0 hit(s) not planted: no room\n");
    EXPECT_EQ(printed("Breakpoints", "status", {R"("b1")", R"({"Instances":[],"Error":"not an address"})"}),
              "Breakpoints status b1 not planted: not an address\n");
    EXPECT_EQ(printed("Breakpoints", "status", {R"("b1")", R"({"Instances":[]})"}), "Breakpoints status b1 planted nowhere\n");
    EXPECT_EQ(printed("Breakpoints", "contextRemoved", {R"(["b1","b2"])"}), "Breakpoints contextRemoved b1 b2\n");
}

// The run-control verbs' words. "board" and "q-1.M" have run control.
bool isTarget(const std::string& word) { return word == "board" || word == "q-1.M"; }

const DebugVerbShape kStep{"step", "[TARGET] [N] [--elf FILE]", 0, 1, {}, {"--elf"}};
const DebugVerbShape kWatch{"watch-data", "[TARGET] ADDRESS SIZE [r|w|a]", 2, 3, {}, {"--elf"}};
const DebugVerbShape kBreak{"break", "[TARGET] ADDRESS [--hw|--sw]", 1, 1, {"--hw", "--sw"}, {}};
const DebugVerbShape kHalt{"halt", "[TARGET]", 0, 0};
const DebugVerbShape kDelete{"delete", "ID", 1, 1, {}, {}, false};

struct WordsCase {
    const DebugVerbShape* shape;
    std::vector<std::string> words;
    std::optional<std::string> target;
    std::vector<std::string> rest;
    std::map<std::string, std::string> options{};
    std::set<std::string> flags{};
};

TEST(RunControlWords, TheFirstWordIsTheTargetWhenItNamesOneOrIsOneTooMany)
{
    const std::vector<WordsCase> cases{
        {&kStep, {}, std::nullopt, {}},
        {&kStep, {"10"}, std::nullopt, {"10"}},
        {&kStep, {"board"}, "board", {}},
        {&kStep, {"board", "10"}, "board", {"10"}},
        {&kStep, {"elsewhere", "10"}, "elsewhere", {"10"}}, // one too many: chooseTarget refuses it
        {&kStep, {"10", "--elf", "fw.elf"}, std::nullopt, {"10"}, {{"--elf", "fw.elf"}}},
        {&kStep, {"--elf", "fw.elf", "q-1.M"}, "q-1.M", {}, {{"--elf", "fw.elf"}}},
        {&kWatch, {"0x20000000", "4"}, std::nullopt, {"0x20000000", "4"}},
        {&kWatch, {"board", "0x20000000", "4"}, "board", {"0x20000000", "4"}},
        {&kBreak, {"on_tick", "--hw"}, std::nullopt, {"on_tick"}, {}, {"--hw"}},
        {&kBreak, {"board", "on_tick"}, "board", {"on_tick"}},
        {&kHalt, {"q-1.M"}, "q-1.M", {}},
        {&kHalt, {"simulator-1.DEMO8"}, "simulator-1.DEMO8", {}},
        {&kDelete, {"3"}, std::nullopt, {"3"}},
    };
    for (const auto& c : cases) {
        const auto read = readDebugArguments(c.words, *c.shape, isTarget);
        const auto what = c.shape->verb + " " + testing::PrintToString(c.words);
        EXPECT_EQ(read.target, c.target) << what;
        EXPECT_EQ(read.words, c.rest) << what;
        EXPECT_EQ(read.options, c.options) << what;
        EXPECT_EQ(read.flags, c.flags) << what;
    }
}

TEST(RunControlWords, WrongWordsAreRefusedWithTheVerbsUsage)
{
    const std::vector<std::tuple<const DebugVerbShape*, std::vector<std::string>, std::string>> cases{
        {&kStep, {"board", "1", "2"}, "step it needs [TARGET] [N] [--elf FILE]"},
        {&kStep, {"--elf"}, "step: --elf needs a value; it needs "},
        {&kStep, {"--frob"}, "step: no option --frob; it needs "},
        {&kWatch, {"0x20000000"}, "watch-data it needs [TARGET] ADDRESS SIZE [r|w|a]"},
        {&kWatch, {"board", "0x20000000"}, "watch-data it needs"},
        {&kBreak, {}, "break it needs"},
        {&kHalt, {"board", "now"}, "halt it needs [TARGET]"},
        {&kDelete, {"board", "3"}, "delete it needs ID"},
    };
    for (const auto& [shape, words, why] : cases) {
        try {
            readDebugArguments(words, *shape, isTarget);
            ADD_FAILURE() << testing::PrintToString(words);
        } catch (const UsageError& error) {
            EXPECT_THAT(error.what(), testing::HasSubstr(why)) << testing::PrintToString(words);
        }
    }
}

TEST(RunControlWords, TheTargetIsTheOneGivenOrTheOnlyOneWithRunControl)
{
    const std::vector<std::string> one{"q-1.M"};
    const std::vector<std::string> two{"q-1.M", "q-2.M"};
    EXPECT_EQ(chooseTarget(std::nullopt, one, "halt"), "q-1.M");
    EXPECT_EQ(chooseTarget(std::string("q-2.M"), two, "halt"), "q-2.M");
    const std::vector<std::tuple<std::optional<std::string>, std::vector<std::string>, std::string>> refused{
        {std::nullopt, {}, "halt: no target has run control (a simulator's targets have none"},
        {std::nullopt, two, "halt needs a TARGET: more than one has run control (q-1.M, q-2.M)"},
        {std::string("simulator-1.DEMO8"), one, "halt: simulator-1.DEMO8 has no run control; these targets have: q-1.M"},
        {std::string("simulator-1.DEMO8"), {}, "halt: simulator-1.DEMO8 has no run control; no target has"},
    };
    for (const auto& [given, targets, why] : refused) {
        try {
            chooseTarget(given, targets, "halt");
            ADD_FAILURE() << why;
        } catch (const UsageError& error) {
            EXPECT_THAT(error.what(), testing::StartsWith(why));
        }
    }
}

TEST(RunControlWords, BreakpointsOfThisClientAreNumberedAndOthersKeepTheirIds)
{
    EXPECT_NE(breakpointWireId(1), breakpointWireId(2));
    EXPECT_EQ(breakpointNumber(breakpointWireId(1)), 1);
    EXPECT_EQ(breakpointNumber(breakpointWireId(42)), 42);
    for (const std::string& other :
         std::vector<std::string>{"1", "eclipse-7", breakpointWireId(1) + "x", breakpointWireId(1).substr(1)})
        EXPECT_EQ(breakpointNumber(other), std::nullopt) << other;
}

TEST(RunControlWords, AStopSaysWhyAndWhereWithTheSymbolThatHoldsThePc)
{
    const auto symbols = SymbolTable::parse(
        testing_elf::elfWithSymbols(EM_ARM, {{"on_tick", 0x401, 0x20, STT_FUNC}, {"reset_handler", 0x4A1, 0x40, STT_FUNC},
                                             {"tick_count", 0x20000000, 4, STT_OBJECT}}),
        "fw.elf");
    const auto state = [](std::optional<std::uint64_t> pc, const std::string& reason, const std::string& data) {
        return RunState{true, pc, reason, boost::json::parse(data).as_object()};
    };
    const std::string mine = "\"" + breakpointWireId(1) + "\"";
    const std::vector<std::tuple<RunState, const SymbolTable*, std::string>> cases{
        {state(0x4A2, "Suspended", "{}"), &symbols, "Suspended at 0x000004A2 (reset_handler+0x2)"},
        {state(0x4A2, "Suspended", "{}"), nullptr, "Suspended at 0x000004A2"},
        {state(0x400, "Breakpoint", R"({"BPs":[)" + mine + "]}"), &symbols, "Breakpoint 1 at 0x00000400 (on_tick)"},
        {state(0x400, "Breakpoint", R"({"BPs":[)" + mine + R"(,"eclipse-7"]})"), nullptr, "Breakpoint 1, eclipse-7 at 0x00000400"},
        {state(0x4A6, "Watchpoint", R"({"BPs":["w"],"DataAddress":536870912,"Signal":5})"), &symbols,
         "Watchpoint w at 0x000004A6 (reset_handler+0x6), data 0x20000000 (tick_count)"},
        {state(std::nullopt, "Signal", R"({"Signal":11})"), &symbols, "Signal at an unknown place, signal 11"},
        {state(0x10, "", "{}"), &symbols, "Stopped at 0x00000010"},
    };
    for (const auto& [stop, table, text] : cases)
        EXPECT_EQ(describeStop(stop, table), text);
    const auto data = stopData(state(0x400, "Breakpoint", R"({"BPs":[)" + mine + R"(,"eclipse-7"]})"), &symbols);
    EXPECT_EQ(boost::json::serialize(data),
              R"({"suspended":true,"pc":1024,"reason":"Breakpoint","symbol":"on_tick","breakpoints":[1,"eclipse-7"],"data":{"BPs":[)" +
                  mine + R"(,"eclipse-7"]}})");
    EXPECT_EQ(boost::json::serialize(stopData(RunState{}, &symbols)),
              R"({"suspended":false,"pc":null,"reason":null,"symbol":null,"breakpoints":[],"data":{}})");
}

} // namespace
} // namespace hil::cli
