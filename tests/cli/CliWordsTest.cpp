#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
}

} // namespace
} // namespace hil::cli
