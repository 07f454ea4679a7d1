// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include <boost/json.hpp>

#include "cli/CliCommands.h"

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

} // namespace
} // namespace hil::cli
