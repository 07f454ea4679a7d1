// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/tools/ToolService.h"
#include "platform/common/CoreException.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/FakeTools.h"
#include "tests/fakes/LogRecorder.h"
#include "tests/fakes/Thrown.h"

namespace hil {
namespace {

using fakes::FakeConnection;
using fakes::FakeConnectionFactory;
using fakes::FakeToolContext;
using fakes::FakeToolFactory;
using testing::_;
using testing::ElementsAre;
using testing::NiceMock;
using testing::Return;

const std::string kUsb = "com.velmora.orixdbg.connection.hid";

class ToolServiceTest : public testing::Test {
protected:
    ToolServiceTest() { debugger.factoryManager = manager; }

    std::shared_ptr<FakeToolFactory> addToolFactory(const std::string& className, const std::string& toolName = "probe")
    {
        auto factory = std::make_shared<FakeToolFactory>(className, toolName);
        manager->add(factory);
        return factory;
    }
    std::shared_ptr<FakeConnectionFactory> addConnectionFactory(const std::string& className)
    {
        auto factory = std::make_shared<FakeConnectionFactory>(className);
        manager->add(factory);
        return factory;
    }
    static std::shared_ptr<NiceMock<FakeToolContext>> makeTool(const std::string& id)
    {
        return std::make_shared<NiceMock<FakeToolContext>>(id);
    }

    fakes::FakeDebugger debugger;
    std::shared_ptr<fakes::FakeFactoryManager> manager = std::make_shared<fakes::FakeFactoryManager>();
    std::shared_ptr<ToolService> service = std::make_shared<ToolService>(debugger);
};

TEST_F(ToolServiceTest, SetupAsksTheFactoriesOfTheTypeInTurnAndRegistersTheFirstToolMade)
{
    auto declining = addToolFactory("tool.sim");
    auto making = addToolFactory("tool.sim");
    auto tool = makeTool("t1");
    making->create = [&](const std::string&, const auto&) { return tool; };
    Status status;
    EXPECT_EQ(service->setupTool(status, "tool.sim", "", {}), tool);
    // Without a connection type no connection is made.
    EXPECT_THAT(declining->createdWith, ElementsAre(nullptr));
    EXPECT_THAT(making->createdWith, ElementsAre(nullptr));
    EXPECT_EQ(service->getContextFromId("t1"), tool);
    // A connection that no factory of the type is there for: no tool, and no error.
    addConnectionFactory(kUsb);
    EXPECT_EQ(service->setupTool(status, "tool.wanted", kUsb, {{"SerialNumber", "1"}}), nullptr);
    EXPECT_TRUE(status.isOk());
}

struct SetupFailure {
    std::string name;
    std::function<void(fakes::FakeFactoryManager&)> arrange;
    ErrorCode code;
    std::string message;
    friend void PrintTo(const SetupFailure& value, std::ostream* out) { *out << value.name; }
};

class ToolServiceSetupFails : public ToolServiceTest, public testing::WithParamInterface<SetupFailure> {};

TEST_P(ToolServiceSetupFails, WithStatusAndLogLine)
{
    fakes::LogRecorder log;
    GetParam().arrange(*manager);
    if (GetParam().name == "NoFactoryManager")
        debugger.factoryManager = nullptr;
    Status status;
    EXPECT_EQ(service->setupTool(status, "tool.x", kUsb, {}), nullptr);
    EXPECT_EQ(status.getErrorCode(), GetParam().code);
    EXPECT_EQ(status.getMessage(), GetParam().message);
    EXPECT_THAT(log.lines(), ElementsAre("|" + GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ToolServiceSetupFails,
    testing::Values(
        SetupFailure{"NoFactoryManager", [](auto&) {}, ErrorCode::BadConfiguration,
                     "Failed to get the factory manager when creating tool tool.x with connection " + kUsb},
        SetupFailure{"ConnectionNotCreated",
                     [](fakes::FakeFactoryManager& m) {
                         auto factory = std::make_shared<FakeConnectionFactory>(kUsb);
                         factory->createSucceeds = false;
                         m.add(factory);
                     },
                     ErrorCode::NotFound, "Failed to create the connection " + kUsb + " with the given props."},
        SetupFailure{"NameBelongsToAToolFactory",
                     [](fakes::FakeFactoryManager& m) { m.add(std::make_shared<FakeToolFactory>(kUsb)); },
                     ErrorCode::NotFound, "Could not find a factory to create the connection " + kUsb},
        SetupFailure{"NoConnectionFactory", [](auto&) {}, ErrorCode::NotFound,
                     "Could not find a factory to create the connection " + kUsb}),
    [](const auto& info) { return info.param.name; });

TEST_F(ToolServiceTest, ADeclaredConnectionFactoryWhoseBundleDidNotStartFailsTheSetUpWithTheManagersException)
{
    // Not read as "no factory wanted it": the client must learn that a bundle is missing.
    manager->declareUnregistered("connectionfactory", kUsb);
    Status status;
    EXPECT_THROW(service->setupTool(status, "tool.x", kUsb, {}), Poco::NullPointerException);
}

TEST_F(ToolServiceTest, AttachedToolsListSimulatorsThenAcceptedConnectionsAndSkipAFactoryWithoutAName)
{
    fakes::LogRecorder log;
    Status status;
    EXPECT_TRUE(service->getAttachedTools(status, "").empty());
    addToolFactory("tool.sim", "simulator");
    auto usb = addConnectionFactory(kUsb);
    auto nameless = addToolFactory("", "nameless");
    auto first = addToolFactory("tool.first");
    auto second = addToolFactory("tool.second");
    first->accepts = [](const auto& c) { return c->getConnectionProperties().contains("Port"); };
    nameless->accepts = second->accepts = [](const auto&) { return true; };
    usb->setAttached({std::make_shared<FakeConnection>(kUsb, boost::json::object{{"SerialNumber", "S1"}, {"Port", "p"}}),
                      std::make_shared<FakeConnection>(kUsb, boost::json::object{{"SerialNumber", "S2"}})});
    const auto tools = service->getAttachedTools(status, "ignored");
    ASSERT_EQ(tools.size(), 3u);
    EXPECT_EQ(tools[0].toolType, "tool.sim");
    EXPECT_TRUE(tools[0].connectionType.empty());
    EXPECT_TRUE(tools[0].connectionProperties.empty());
    EXPECT_EQ(tools[1].toolType, "tool.first");
    EXPECT_EQ(tools[1].serialNumber, "S1");
    EXPECT_EQ(tools[2].toolType, "tool.second");
    EXPECT_EQ(tools[2].connectionType, kUsb);
    EXPECT_TRUE(status.isOk());
    EXPECT_THAT(log.lines(), ElementsAre("toolService|Got empty class name from toolFactory! nameless",
                                         "toolService|Got empty class name from toolFactory! nameless"));
}

TEST_F(ToolServiceTest, SerialNumberOfAnotherKindIsAnError)
{
    auto usb = addConnectionFactory(kUsb);
    addToolFactory("tool.any")->accepts = [](const auto&) { return true; };
    usb->setAttached({std::make_shared<FakeConnection>(kUsb, boost::json::object{{"SerialNumber", 42}})});
    Status status;
    const auto error = fakes::thrown<CoreException>([&] { service->getAttachedTools(status, ""); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->getStatus()->getErrorCode(), ErrorCode::BadConfiguration);
    EXPECT_EQ(error->getStatus()->getMessage(), "Property SerialNumber is not of expected type");
}

TEST_F(ToolServiceTest, TearDownClosesOpenDependentsDisconnectsAndUnregistersEvenOnFailure)
{
    auto tool = makeTool("t");
    auto open = std::make_shared<fakes::FakeDependent>(true);
    auto closed = std::make_shared<fakes::FakeDependent>(false);
    EXPECT_CALL(*tool, getDependents()).WillOnce(Return(std::vector<std::shared_ptr<IToolDependent>>{open, nullptr, closed}));
    EXPECT_CALL(*tool, disconnect(_)).WillOnce([](Status& status) { status.setError(ErrorCode::ReadFailure, "gone"); });
    service->addContext(tool);
    service->tearDownTool(tool);
    EXPECT_EQ(open->closed, 1);
    EXPECT_EQ(closed->closed, 0);
    EXPECT_EQ(service->getContextFromId("t"), nullptr);
}

TEST_F(ToolServiceTest, CleanupTearsDownEachToolOfTheOwnerAndSurvivesFailures)
{
    fakes::LogRecorder log;
    debugger.getCurrentOwnerSlot().set(7);
    auto failing = makeTool("a");
    auto fine = makeTool("b");
    ON_CALL(*failing, disconnect(_)).WillByDefault([](Status&) { throw std::runtime_error("usb stall"); });
    EXPECT_CALL(*fine, disconnect(_));
    ContextList tools{failing, fine, fakes::makeContext("not-a-tool")};
    service->addContexts(tools);
    service->cleanup(7);
    EXPECT_TRUE(service->getChildren(nullptr).empty());
    const auto lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "svc|Error during cleanup of a : usb stall"), lines.end());
}

TEST(ConnectionInfo, EqualityComparesTypesAndOrderedPropertiesButNotTheSerialNumberField)
{
    const ConnectionInfo base{"tool", kUsb, "S1", {{"SerialNumber", "S1"}, {"PortName", "p0"}}};
    const std::vector<std::tuple<std::string, ConnectionInfo, bool>> cases{
        {"same", {"tool", kUsb, "S1", {{"SerialNumber", "S1"}, {"PortName", "p0"}}}, true},
        {"serial field ignored", {"tool", kUsb, "other", {{"SerialNumber", "S1"}, {"PortName", "p0"}}}, true},
        {"tool type", {"tool2", kUsb, "S1", {{"SerialNumber", "S1"}, {"PortName", "p0"}}}, false},
        {"connection type", {"tool", "x", "S1", {{"SerialNumber", "S1"}, {"PortName", "p0"}}}, false},
        {"property value", {"tool", kUsb, "S1", {{"SerialNumber", "S1"}, {"PortName", "p1"}}}, false},
        {"property order", {"tool", kUsb, "S1", {{"PortName", "p0"}, {"SerialNumber", "S1"}}}, false},
        {"property count", {"tool", kUsb, "S1", {{"SerialNumber", "S1"}}}, false}};
    for (const auto& [name, other, equal] : cases)
        EXPECT_EQ(base == other, equal) << name;
}

} // namespace
} // namespace hil
