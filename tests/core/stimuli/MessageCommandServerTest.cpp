// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/stimuli/MessageCommandServer.h"
#include "core/stimuli/MessageService.h"
#include "tests/fakes/FakeStimuli.h"
#include "tests/fakes/ServedService.h"

namespace hil {
namespace {

using testing::ElementsAre;

class MessageCommandServerTest : public testing::Test, protected fakes::ServedService<MessageService, MessageCommandServer> {
protected:
    MessageCommandServerTest()
    {
        context->sourceName = "DEMO8";
        service->addContext(context);
    }

    std::shared_ptr<fakes::FakeMessageContext> context = std::make_shared<fakes::FakeMessageContext>("msg-1");
};

TEST_F(MessageCommandServerTest, SetPropertiesHandsTheObjectToAnyRegisteredContext)
{
    EXPECT_THAT(run("setProperties", {R"("msg-1")", R"({"ReportingActive":false})"}), ElementsAre(""));
    EXPECT_EQ(context->properties.at("ReportingActive"), false);
    EXPECT_THAT(run("setProperties", {R"("msg-1")", "{}"}), ElementsAre(""));
    auto plain = fakes::makeContext("plain");
    service->addContext(plain);
    EXPECT_THAT(run("setProperties", {R"("plain")", R"({"X":1})"}), ElementsAre(""));
    EXPECT_EQ(plain->properties.at("X"), 1);
}

TEST_F(MessageCommandServerTest, SetPropertiesRefusesWhatNamesNoContextOrIsNoObject)
{
    const std::string code3 = R"({"Code":3})";
    EXPECT_THAT(run("setProperties", {R"("msg-1")", "[1]"}), ElementsAre(code3));
    EXPECT_THAT(run("setProperties", {R"("")", "{}"}), ElementsAre(code3));
    EXPECT_THAT(run("setProperties", {R"("msg-1")"}), ElementsAre(code3));
    EXPECT_THAT(run("setProperties", {"1", "{}"}), ElementsAre(code3));
    EXPECT_THAT(run("setProperties", {R"("gone")", "{}"}),
                ElementsAre(R"({"Code":16,"Format":"Invalid context gone,","AltOrg":"libtcf"})"));
}

TEST_F(MessageCommandServerTest, UnknownCommandsGetTheServicesOwnError)
{
    EXPECT_THAT(run("frobnicate", {}), ElementsAre(R"({"Code":3,"Service":"Message","Format":"Unknown command"})"));
    EXPECT_THAT(run("getChildren", {R"("")"}), ElementsAre("", R"(["msg-1"])"));
}

TEST_F(MessageCommandServerTest, EachReportedStatusIsAMessageEventEvenAnEmptyOne)
{
    context->messages(Status(Severity::Info, "sim", ErrorCode::Ok, "Session started"));
    context->messages(Status());
    server.reset();
    context->messages(Status(Severity::Info, "sim", ErrorCode::Ok, "late"));
    EXPECT_THAT(events.lines("message"),
                ElementsAre(R"(Message message "msg-1" "DEMO8" "Session started")", R"(Message message "msg-1" "DEMO8" "")"));
}

} // namespace
} // namespace hil
