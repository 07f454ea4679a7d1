// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/frame/CommandServerBase.h"
#include "core/frame/ErrorDescr.h"
#include "core/frame/ServiceBase.h"
#include "platform/common/CoreException.h"
#include "platform/tcf/GenericError.h"
#include "tests/fakes/FakeContext.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/LogRecorder.h"
#include "tests/fakes/RecordingChannel.h"
#include "tests/fakes/RecordingEventSink.h"

namespace hil {
namespace {

using fakes::call;
using fakes::makeContext;
using testing::ElementsAre;

class TestService : public ServiceBase<IServiceBase> {
public:
    explicit TestService(IOrixDebugger& debugger) : ServiceBase(debugger, "Test") {}
};

/// A service that keeps no contexts.
class PlainService : public IService {
public:
    std::string getName() const override { return "Plain"; }
    void cleanup(int) override {}
};

/// A server with one command, "throw", whose behaviour each test chooses.
class TestServer : public CommandServerBase {
public:
    TestServer(IOrixDebugger& debugger, std::shared_ptr<IService> service, bool subscribe = true)
        : CommandServerBase(debugger, std::move(service))
    {
        addCommand("throw", [this](const CommandArguments&, tcf::IIntermediateResult& progress, Results& results) {
            results.push_back("\"partial\"");
            progress.sendIntermediateResult({"\"halfway\""});
            thrower();
        });
        addCommand("count", [this](const CommandArguments& arguments, tcf::IIntermediateResult&, Results&) {
            throwInvalidNumberOfArguments("count", arguments);
        });
        if (subscribe)
            registerServiceSignalHandlers();
    }
    void registerContextSignalHandlers(const ContextPtr& context) override { subscribed.push_back(context->getId()); }
    void changed(const ContextPtr& context) { sendContextChanged(context); }

    std::function<void()> thrower = [] {};
    std::vector<std::string> subscribed;
};

class CommandServerBaseTest : public testing::Test {
protected:
    fakes::FakeDebugger debugger;
    std::shared_ptr<TestService> service = std::make_shared<TestService>(debugger);
    TestServer server{debugger, service};
    fakes::RecordingChannel channel{42};
    fakes::ScopedEventRecorder events;
};

using BadRequest = fakes::CommandCase;

class CommandServerBaseRefuses : public CommandServerBaseTest, public testing::WithParamInterface<BadRequest> {};

TEST_P(CommandServerBaseRefuses, WithOneErrorValue)
{
    service->addContext(makeContext("m1"));
    EXPECT_THAT(call(server, channel, GetParam().command, GetParam().arguments), ElementsAre(GetParam().reply));
}

const std::string kCode3 = R"({"Code":3})";
const std::string kInvalidX = R"({"Code":16,"Format":"Invalid context x,","AltOrg":"libtcf"})";

INSTANTIATE_TEST_SUITE_P(
    GenericCommands, CommandServerBaseRefuses,
    testing::Values(
        BadRequest{"GetContextEmptyLiteral", "getContext", {"\"\""}, kCode3},
        BadRequest{"GetContextEmptyAfterParsing", "getContext", {" \"\""},
                   R"({"Code":16,"Format":"Empty context id","AltOrg":"libtcf"})"},
        BadRequest{"GetContextNoArgument", "getContext", {}, kCode3},
        BadRequest{"GetContextTwoArguments", "getContext", {"\"m1\"", "\"m1\""}, kCode3},
        BadRequest{"GetContextNotJson", "getContext", {"m1"}, kCode3},
        BadRequest{"GetContextNumber", "getContext", {"1"}, kCode3},
        BadRequest{"GetContextUnknown", "getContext", {"\"x\""}, kInvalidX},
        BadRequest{"GetChildrenUnknown", "getChildren", {"\"x\""}, kInvalidX},
        BadRequest{"GetChildrenNoArgument", "getChildren", {}, kCode3},
        BadRequest{"GetChildrenTwoArguments", "getChildren", {"\"\"", "\"\""}, kCode3},
        BadRequest{"GetChildrenNumberIsLibraryError", "getChildren", {"5"},
                   R"({"Code":1,"Service":"Test","Format":"not a string"})"}),
    [](const auto& info) { return info.param.name; });

TEST_F(CommandServerBaseTest, GetContextRepliesSuccessThenPropertiesAndGetChildrenRootsOrChildrenInIdOrder)
{
    auto device = makeContext("d");
    device->properties["Name"] = "flash";
    ContextList all{device, makeContext("d.b", device), makeContext("d.a", device), makeContext("c")};
    service->addContexts(all);
    EXPECT_THAT(call(server, channel, "getChildren", {"\"\""}), ElementsAre("", R"(["c","d"])"));
    EXPECT_THAT(call(server, channel, "getChildren", {"\"d\""}), ElementsAre("", R"(["d.a","d.b"])"));
    EXPECT_THAT(call(server, channel, "getContext", {"\"d\""}), ElementsAre("", R"({"ID":"d","Name":"flash"})"));
}

TEST_F(CommandServerBaseTest, ServiceWithoutContextsSaysSo)
{
    TestServer plain(debugger, std::make_shared<PlainService>());
    const std::string reply = R"({"Code":16,"Format":"Service (Plain) does support any contexts.","AltOrg":"libtcf"})";
    EXPECT_THAT(call(plain, channel, "getChildren", {"\"\""}), ElementsAre(reply));
    EXPECT_THAT(call(plain, channel, "getContext", {"\"a\""}), ElementsAre(reply));
}

struct Thrown {
    std::string name;
    friend void PrintTo(const Thrown& value, std::ostream* out) { *out << value.name; }
    std::function<void()> thrower;
    std::string reply;
    std::string logLine;
};

class CommandServerBaseBoundary : public CommandServerBaseTest, public testing::WithParamInterface<Thrown> {};

TEST_P(CommandServerBaseBoundary, TurnsEveryThrowIntoOneAppendedValue)
{
    fakes::LogRecorder log;
    server.thrower = GetParam().thrower;
    EXPECT_THAT(call(server, channel, "throw"), ElementsAre("\"partial\"", GetParam().reply));
    EXPECT_THAT(log.lines(), ElementsAre("|" + GetParam().logLine));
    EXPECT_THAT(call(server, channel, "getChildren", {"\"\""}), ElementsAre("", "[]")) << "ready for the next command";
}

INSTANTIATE_TEST_SUITE_P(
    CatchTable, CommandServerBaseBoundary,
    testing::Values(
        Thrown{"ErrorDescr", [] { throw ErrorDescr(15, "Memory", "bad size"); },
               R"({"Code":15,"Service":"Memory","Format":"bad size"})", "Exception: Code (15) Service: Memory :bad size"},
        Thrown{"GenericError", [] { throw tcf::GenericError("probe gone"); },
               R"({"Code":1,"Service":"Test","Format":"probe gone"})", "probe gone"},
        Thrown{"CoreException", [] { CoreException::createAndThrow("L_HIL", ErrorCode::NotFound, "no %s", "file"); },
               R"({"Code":131106,"Format":"no file","AltOrg":"L_HIL"})", "no file"},
        Thrown{"StdException", [] { throw std::out_of_range("range"); },
               R"({"Code":1,"Service":"Test","Format":"range"})", "range"},
        Thrown{"Text", [] { throw std::string("text"); }, R"({"Code":1,"Service":"Test","Format":"text"})", "text"},
        Thrown{"CharPointer", [] { throw "chars"; }, R"({"Code":1,"Service":"Test","Format":"chars"})", "chars"},
        Thrown{"Int", [] { throw 7; }, R"({"Code":1,"Service":"Test","Format":"numeric error 7"})", "numeric error 7"},
        Thrown{"Unknown", [] { throw 2.5; },
               R"({"Code":1,"Service":"Test","Format":"The Service threw an unknown exception"})",
               "The Service threw an unknown exception"}),
    [](const auto& info) { return info.param.name; });

TEST_F(CommandServerBaseTest, ErrorDescrIsLoggedEvenWhenTheEmptyCategoryIsOff)
{
    fakes::LogRecorder log(LogMask::Error);
    BackendLogger::enableCategories("svc");
    server.thrower = [] { throw 7; };
    call(server, channel, "throw");
    call(server, channel, "nope");
    EXPECT_THAT(log.lines(), ElementsAre("|Exception: Code (3) Service: Test :Unknown command:nope"));
}

TEST_F(CommandServerBaseTest, InvalidNumberOfArgumentsListsEveryArgument)
{
    EXPECT_THAT(call(server, channel, "count", {"1", "\"a\""}),
                ElementsAre(R"({"Code":3,"Service":"Test","Format":"Invalid number of arguments, (2), passed to )"
                            R"(count command. argument list was \", 1, \"a\"\".","AltOrg":"libtcf"})"));
    EXPECT_THAT(call(server, channel, "count"),
                ElementsAre(R"({"Code":3,"Service":"Test","Format":"Invalid number of arguments, (0), passed to )"
                            R"(count command. argument list was \"\".","AltOrg":"libtcf"})"));
}

TEST_F(CommandServerBaseTest, CommandStampsTheThreadWithTheChannelIdAndSendsProgressOnItsToken)
{
    EXPECT_FALSE(debugger.getCurrentOwnerSlot().get().has_value());
    call(server, channel, "throw");
    EXPECT_EQ(debugger.getCurrentOwnerSlot().get(), 42);
    ASSERT_EQ(channel.progress.size(), 1u);
    EXPECT_EQ(channel.progress[0].token, channel.replies.back().token);
    EXPECT_THAT(channel.progress[0].values, ElementsAre("\"halfway\""));
}

// A server that does not subscribe, or is gone, hears nothing of its service.
TEST_F(CommandServerBaseTest, RegistrySignalsBecomeContextEventsOfTheSubscribedServersOnly)
{
    auto otherService = std::make_shared<TestService>(debugger);
    TestServer quiet(debugger, otherService, false);
    std::make_unique<TestServer>(debugger, otherService).reset();
    otherService->addContext(makeContext("a"));
    auto parent = makeContext("p");
    auto child = makeContext("c", parent);
    ContextList added{parent, child};
    service->addContexts(added);
    ContextList none;
    service->addContexts(none);
    ContextList removed{nullptr, child};
    service->removeContexts(removed);
    server.changed(parent);

    EXPECT_THAT(events.lines(), ElementsAre(R"(Test contextAdded [{"ID":"p"},{"ID":"c","ParentID":"p"}])", "Test contextAdded []",
                                            R"(Test contextRemoved ["c"])", R"(Test contextChanged [{"ID":"p"}])"));
    EXPECT_THAT(server.subscribed, ElementsAre("p", "c"));
}

} // namespace
} // namespace hil
