// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "core/tools/ToolCommandServer.h"
#include "core/tools/ToolService.h"
#include "tests/fakes/FakeTools.h"
#include "tests/fakes/ServedService.h"

namespace hil {
namespace {

using testing::_;
using testing::ElementsAre;
using testing::NiceMock;
using testing::Return;

const std::string kCode3 = R"({"Code":3})";
const std::string kNotATool = R"({"Code":3,"Service":"Tool","Format":"The given context ID is not a tool context."})";

class ToolCommandServerTest : public testing::Test, protected fakes::ServedService<ToolService, ToolCommandServer> {
protected:
    ToolCommandServerTest()
    {
        debugger.factoryManager = manager;
        factory->create = [this](const std::string&, const auto&) { return tool; };
        manager->add(factory);
        service->addContext(tool);
        service->addContext(fakes::makeContext("device-1"));
    }

    std::shared_ptr<fakes::FakeFactoryManager> manager = std::make_shared<fakes::FakeFactoryManager>();
    std::shared_ptr<fakes::FakeToolFactory> factory = std::make_shared<fakes::FakeToolFactory>("tool.sim", "simulator");
    std::shared_ptr<NiceMock<fakes::FakeToolContext>> tool = std::make_shared<NiceMock<fakes::FakeToolContext>>("tool-1");
};

using Refusal = fakes::CommandCase;

class ToolCommandServerRefuses : public ToolCommandServerTest, public testing::WithParamInterface<Refusal> {};

TEST_P(ToolCommandServerRefuses, BeforeTouchingAnyTool)
{
    EXPECT_CALL(*tool, connect(_)).Times(0);
    EXPECT_CALL(*tool, genericCommand(_, _, _, _)).Times(0);
    EXPECT_THAT(run(GetParam().command, GetParam().arguments), ElementsAre(GetParam().reply));
    EXPECT_TRUE(factory->createdWith.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ToolCommandServerRefuses,
    testing::Values(
        Refusal{"TypesTakeNoArgument", "getSupportedToolTypes", {"1"}, kCode3},
        Refusal{"SetupWithArrayProperties", "setupTool", {"\"tool.sim\"", "\"\"", "[]"}, kCode3},
        Refusal{"SetupWithTwoArguments", "setupTool", {"\"tool.sim\"", "\"\""}, kCode3},
        Refusal{"ConnectWithNumberId", "connect", {"1"}, kCode3},
        Refusal{"ConnectTwoArguments", "connect", {"\"tool-1\"", "\"x\""}, kCode3},
        Refusal{"ConnectDevice", "connect", {"\"device-1\""}, kNotATool},
        Refusal{"TearDownDevice", "tearDownTool", {"\"device-1\""}, kNotATool},
        Refusal{"ConnectEmptyId", "connect", {"\"\""}, kNotATool},
        Refusal{"ConnectUnknown", "connect", {"\"tool-9\""},
                R"({"Code":16,"Format":"Invalid context tool-9,","AltOrg":"libtcf"})"},
        Refusal{"CmdTimeoutAsString", "cmd", {"\"tool-1\"", "\"AQI=\"", "\"100\""}, kCode3},
        Refusal{"CmdOneArgument", "cmd", {"\"tool-1\""}, kCode3},
        Refusal{"CmdFourArguments", "cmd", {"\"tool-1\"", "\"AQI=\"", "1", "2"}, kCode3},
        Refusal{"CmdNotBase64", "cmd", {"\"tool-1\"", "\"AQI\""}, kCode3},
        Refusal{"CmdRequestNotString", "cmd", {"\"tool-1\"", "5"},
                R"({"Code":1,"Service":"Tool","Format":"not a string"})"},
        Refusal{"UpgradeWithoutFlag", "startUpgrade", {"\"tool-1\""}, kCode3},
        Refusal{"UpgradeFlagNotBool", "startUpgrade", {"\"tool-1\"", "1"}, kCode3},
        Refusal{"SpecialOperationArrayParameters", "SpecialOperation", {"\"tool-1\"", "\"x\"", "[]"}, kCode3},
        Refusal{"StringCommandAlone", "genericStringCommand", {"\"tool-1\""}, kCode3},
        Refusal{"PollWithText", "pollForTools", {"\"true\""}, kCode3},
        Refusal{"Cancel", "cancel", {"\"tool-1\""},
                R"({"Code":3,"Service":"Tool","Format":"This function is not implemented"})"}),
    [](const auto& info) { return info.param.name; });

TEST_F(ToolCommandServerTest, SetupSendsContextAddedBeforeTheReplyAndTearDownSendsNoRemoval)
{
    service->removeContext(tool);
    std::vector<std::size_t> repliesAtEvents;
    class OrderSink : public tcf::IEventSink {
    public:
        explicit OrderSink(std::function<void()> onEvent) : onEvent_(std::move(onEvent)) {}
        void sendEvent(const std::string&, const std::string&, const std::vector<std::string>&) override { onEvent_(); }

    private:
        std::function<void()> onEvent_;
    };
    const auto previous = tcf::Protocol::setEventSink(
        std::make_shared<OrderSink>([&] { repliesAtEvents.push_back(channel.replies.size()); }));
    const auto reply = run("setupTool", {"\"tool.sim\"", "\"\"", "{}"});
    EXPECT_THAT(run("tearDownTool", {"\"tool-1\""}), ElementsAre(""));
    tcf::Protocol::setEventSink(previous);
    EXPECT_THAT(reply, ElementsAre("", "\"tool-1\""));
    EXPECT_THAT(repliesAtEvents, ElementsAre(0u));
}

TEST_F(ToolCommandServerTest, SetupThatMakesNothingRepliesEmptyIdAndOneWithoutItsBundleAnError)
{
    manager->declareUnregistered("toolfactory", "tool.gone");
    EXPECT_THAT(run("setupTool", {"\"tool.gone\"", "\"\"", "{}"}),
                ElementsAre(R"({"Code":1,"Service":"Tool","Format":"Null pointer"})"));
    factory->create = nullptr;
    EXPECT_THAT(run("setupTool", {"\"tool.none\"", "\"\"", "{}"}), ElementsAre("", "\"\""));
    EXPECT_THAT(run("setupTool", {"\"tool.sim\"", "\"no.such.connection\"", "{}"}),
                ElementsAre(R"({"Code":131106,"Format":"Could not find a factory to create the connection no.such.connection"})",
                            "\"\""));
}

TEST_F(ToolCommandServerTest, CmdPutsDataFirstAndDefaultsTheTimeout)
{
    EXPECT_CALL(*tool, genericCommand(_, _, std::vector<std::uint8_t>{1, 2}, 1000))
        .WillOnce([](Status& status, std::vector<std::uint8_t>& response, const auto&, int) {
            response = {0xFF};
            status.setError(ErrorCode::ReadFailure, "late");
        });
    EXPECT_CALL(*tool, genericCommand(_, _, _, 50));
    EXPECT_THAT(run("cmd", {"\"tool-1\"", "\"AQI=\""}), ElementsAre("\"/w==\"", R"({"Code":1,"Format":"late"})", ""));
    EXPECT_THAT(run("cmd", {"\"tool-1\"", "\"\"", "50"}), ElementsAre("\"\"", "", ""));
}

TEST_F(ToolCommandServerTest, OperationsReplyTheirStatusAndResults)
{
    EXPECT_CALL(*tool, getTargetVoltage()).WillOnce(Return(std::nan(""))).WillOnce(Return(3.25));
    EXPECT_CALL(*tool, genericStringCommand(_, _, "version")).WillOnce([](Status&, std::string& response, const std::string&) {
        response = "1.0";
        return true;
    });
    EXPECT_CALL(*tool, genericStringCommand(_, _, "bogus")).WillOnce(Return(false));
    EXPECT_CALL(*tool, connect(_)).WillOnce([](Status& status) { status.setError(ErrorCode::NotFound, "no target"); });
    EXPECT_CALL(*tool, selfTest(_)).WillOnce(Return(boost::json::object{{"Result", "passed"}}));
    EXPECT_CALL(*tool, calibrate(_)).WillOnce(Return(true));
    EXPECT_CALL(*tool, detectDevices(_)).WillOnce(Return(std::vector<boost::json::object>{{{"Name", "DEMO8"}}}));
    EXPECT_CALL(*tool, specialOperation(_, "blink", boost::json::object{{"times", 2}}));
    EXPECT_CALL(*tool, startUpgrade(true, _, _)).WillOnce([](bool, tcf::IIntermediateResult& progress, Status&) {
        progress.sendIntermediateResult({"50"});
    });
    EXPECT_THAT(run("connect", {"\"tool-1\""}), ElementsAre(R"({"Code":131106,"Format":"no target"})"));
    EXPECT_THAT(run("selfTest", {"\"tool-1\""}), ElementsAre("", R"({"Result":"passed"})"));
    EXPECT_THAT(run("calibrate", {"\"tool-1\""}), ElementsAre("", "true"));
    EXPECT_THAT(run("detectDevices", {"\"tool-1\""}), ElementsAre("", R"([{"Name":"DEMO8"}])"));
    EXPECT_THAT(run("SpecialOperation", {"\"tool-1\"", "\"blink\"", R"({"times":2})", "9"}), ElementsAre("", ""));
    EXPECT_THAT(run("startUpgrade", {"\"tool-1\"", "true", "\"extra\""}), ElementsAre(""));
    EXPECT_THAT(run("getTargetVoltage", {"\"tool-1\""}), ElementsAre("", "NaN")) << "NaN is the bare word";
    EXPECT_THAT(run("getTargetVoltage", {"\"tool-1\""}), ElementsAre("", "3.25E0"));
    // A string command replies its text only when it was answered.
    EXPECT_THAT(run("genericStringCommand", {"\"tool-1\"", "\"version\"", "\"ignored\""}), ElementsAre("", "\"1.0\""));
    EXPECT_THAT(run("genericStringCommand", {"\"tool-1\"", "\"bogus\""}), ElementsAre(""));
    ASSERT_EQ(channel.progress.size(), 1u);
    EXPECT_THAT(channel.progress[0].values, ElementsAre("50"));
}

TEST_F(ToolCommandServerTest, SetupAndPropertyChangesAreAnnouncedAndConnectionLostReachesClientsUntilTheServerIsGone)
{
    service->removeContext(tool);
    EXPECT_THAT(run("setupTool", {"\"tool.sim\"", "\"\"", "{}"}), ElementsAre("", "\"tool-1\""));
    EXPECT_CALL(*tool, setToolProperties(boost::json::object{{"DeviceName", "DEMO32"}}))
        .WillOnce([this](const boost::json::object& changed) { tool->setProperties(changed); });
    EXPECT_THAT(run("setProperties", {"\"tool-1\"", R"({"DeviceName":"DEMO32"})"}), ElementsAre(""));
    tool->connectionLost("cable pulled");
    server.reset();
    tool->connectionLost("after the server");
    EXPECT_THAT(events.lines(), ElementsAre(R"(Tool contextAdded [{"ID":"tool-1"}])",
                                            R"(Tool contextChanged [{"ID":"tool-1","DeviceName":"DEMO32"}])",
                                            R"(Tool connectionLost ["cable pulled"])"));
}

} // namespace
} // namespace hil
