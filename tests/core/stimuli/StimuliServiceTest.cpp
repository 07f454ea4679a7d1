// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/device/DeviceService.h"
#include "core/stimuli/StimuliCommandServer.h"
#include "core/stimuli/StimuliService.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/FakeDevices.h"
#include "tests/fakes/FakeStimuli.h"
#include "tests/fakes/FakeTools.h"
#include "tests/fakes/LogRecorder.h"
#include "tests/fakes/RecordingChannel.h"

namespace hil {
namespace {

using fakes::call;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::NiceMock;
using testing::Return;

const std::string kType = "com.example.stimuli";

class StimuliServiceTest : public testing::Test {
protected:
    StimuliServiceTest()
    {
        debugger.factoryManager = manager;
        debugger.addService(deviceService);
    }

    /// A device context registered at the top, with a port of `designator` (none when empty).
    std::shared_ptr<fakes::FakeStimuliPort> addDevice(const std::string& id, const std::string& designator)
    {
        auto device = std::make_shared<NiceMock<fakes::FakeDeviceContext>>(id);
        std::shared_ptr<fakes::FakeStimuliPort> port;
        if (!designator.empty())
            port = std::make_shared<fakes::FakeStimuliPort>(id, designator, log);
        ON_CALL(*device, getStimuliPort()).WillByDefault(Return(port));
        deviceService->addContext(device);
        return port;
    }

    std::shared_ptr<fakes::FakeStimuliChannel> channel(const std::string& name, const std::string& designator)
    {
        auto made = std::make_shared<fakes::FakeStimuliChannel>(name, designator, log);
        provider->channels.push_back(made);
        return made;
    }

    fakes::StimuliLog log;
    fakes::FakeDebugger debugger;
    std::shared_ptr<fakes::FakeFactoryManager> manager = std::make_shared<fakes::FakeFactoryManager>();
    std::shared_ptr<DeviceService> deviceService = std::make_shared<DeviceService>(debugger);
    std::shared_ptr<StimuliService> service = std::make_shared<StimuliService>(debugger);
    std::shared_ptr<fakes::FakeStimuliProvider> provider = std::make_shared<fakes::FakeStimuliProvider>();
};

TEST_F(StimuliServiceTest, SetupTakesTheProviderFromTheFirstFactoryOfTheTypeThatMakesOneAndFailsWithoutAManager)
{
    auto failing = std::make_shared<fakes::FakeStimuliProviderFactory>(kType);
    auto working = std::make_shared<fakes::FakeStimuliProviderFactory>(kType);
    working->make = [this] { return provider; };
    manager->add(std::make_shared<fakes::FakeStimuliProviderFactory>("com.example.other"));
    manager->add(failing);
    manager->add(working);
    Status status;
    EXPECT_EQ(service->setupProvider(status, kType, {{"Rate", 5}}), provider);
    EXPECT_TRUE(status.isOk());
    EXPECT_EQ(failing->configurations.size(), 1u);
    EXPECT_EQ(working->configurations.at(0).at("Rate"), 5);
    EXPECT_THAT(service->getStimuliProviders(), ElementsAre(provider));
    EXPECT_EQ(service->setupProvider(status, "com.example.none", {}), nullptr);
    EXPECT_TRUE(status.isOk());
    // Without a factory manager: a failure, logged.
    fakes::LogRecorder recorder;
    debugger.factoryManager = nullptr;
    EXPECT_EQ(service->setupProvider(status, kType, {}), nullptr);
    EXPECT_EQ(status.getErrorCode(), ErrorCode::BadConfiguration);
    const std::string text = "Failed to get the factory manager when creating stimuli provider " + kType;
    EXPECT_EQ(status.getMessage(), text);
    EXPECT_THAT(recorder.lines(), ElementsAre("|" + text));
    EXPECT_THAT(service->getSupportedStimuliTypes(), IsEmpty());
}

TEST_F(StimuliServiceTest, RemoveTakesOnlyTheFirstEntryOfAProviderAddedTwice)
{
    auto other = std::make_shared<fakes::FakeStimuliProvider>();
    service->addStimuliProvider(provider);
    service->addStimuliProvider(other);
    service->addStimuliProvider(provider);
    service->removeStimuliProvider(provider);
    EXPECT_THAT(service->getStimuliProviders(), ElementsAre(other, provider));
    service->removeStimuliProvider(std::make_shared<fakes::FakeStimuliProvider>());
    EXPECT_EQ(service->getStimuliProviders().size(), 2u);
}

TEST_F(StimuliServiceTest, ConnectBindsEachChannelToThePortsOfItsDesignatorAndDisconnectUndoesIt)
{
    addDevice("d1", "A");
    addDevice("d2", "");
    addDevice("d3", "B");
    deviceService->addContext(fakes::makeContext("not-a-device"));
    channel("a", "A");
    channel("b", "B");
    EXPECT_TRUE(service->connect(provider));
    EXPECT_THAT(log.calls, ElementsAre("channel a attach A", "port d1 attach A", "channel b attach B", "port d3 attach B"));
    log.calls.clear();
    EXPECT_TRUE(service->disconnect(provider));
    EXPECT_THAT(log.calls, ElementsAre("channel a detach", "port d1 detach", "channel b detach", "port d3 detach"));
    EXPECT_FALSE(service->disconnect(provider));
}

TEST_F(StimuliServiceTest, PartialConnectIsUndoneWhole)
{
    addDevice("d1", "A");
    addDevice("d2", "B")->accepts = false;
    channel("a", "A");
    channel("b", "B");
    EXPECT_FALSE(service->connect(provider));
    EXPECT_THAT(log.calls, ElementsAre("channel a attach A", "port d1 attach A", "channel b attach B", "port d2 attach B",
                                       "channel b detach", "channel a detach", "port d1 detach"));
    EXPECT_FALSE(service->disconnect(provider));
}

TEST_F(StimuliServiceTest, AChannelOfNoPortIsSkippedAndARefusedOneLeavesTheRestOfThatDevice)
{
    addDevice("d1", "A");
    channel("x", "X");
    channel("a1", "A")->attaches = false;
    channel("a2", "A");
    // Nothing was bound, so nothing is undone: a plain failure.
    EXPECT_FALSE(service->connect(provider));
    EXPECT_THAT(log.calls, ElementsAre("channel a1 attach A"));
    EXPECT_FALSE(service->disconnect(provider));
}

class StimuliCommandServerTest : public StimuliServiceTest {
protected:
    std::vector<std::string> run(const std::string& command, const std::vector<std::string>& arguments = {})
    {
        return call(server, channel_, command, arguments);
    }
    StimuliCommandServer server{debugger, service};
    fakes::RecordingChannel channel_;
};

TEST_F(StimuliCommandServerTest, StimuliTypesAreTheFactoriesClassNamesAndGenericCommandsAreUnknown)
{
    EXPECT_THAT(run("getStimuliTypes"), ElementsAre("", "[]"));
    manager->add(std::make_shared<fakes::FakeStimuliProviderFactory>("b.type"));
    manager->add(std::make_shared<fakes::FakeStimuliProviderFactory>("a.type"));
    EXPECT_THAT(run("getStimuliTypes"), ElementsAre("", R"(["b.type","a.type"])"));
    EXPECT_THAT(run("getStimuliTypes", {"1"}), ElementsAre(R"({"Code":3})"));
    // The generic commands are unknown here; "addStimuliProvider" replies nothing.
    EXPECT_THAT(run("getContext", {R"("x")"}), ElementsAre(R"({"Code":3,"Service":"Stimuli","Format":"Unknown command:getContext"})"));
    EXPECT_THAT(run("addStimuliProvider", {"not json", "1"}), IsEmpty());
}

TEST_F(StimuliCommandServerTest, SetDesignatorNamesTheDevicesPortOrSaysWhyNot)
{
    const auto port = addDevice("d1", "old");
    addDevice("bare", "");
    deviceService->addContext(fakes::makeContext("tool-1"));
    EXPECT_THAT(run("setDesignator", {R"("d1")", R"("bench")"}), ElementsAre(""));
    EXPECT_EQ(port->getDesignator(), "bench");
    EXPECT_THAT(run("setDesignator", {R"("nothing")", R"("x")"}),
                ElementsAre(R"({"Code":16,"Format":"Invalid context nothing,","AltOrg":"libtcf"})"));
    EXPECT_THAT(run("setDesignator", {R"("tool-1")", R"("x")"}),
                ElementsAre(R"({"Code":16,"Format":"Invalid context tool-1,","AltOrg":"libtcf"})"));
    EXPECT_THAT(run("setDesignator", {R"("bare")", R"("x")"}),
                ElementsAre(R"({"Code":131120,"Format":"Device bare has no stimuli port"})"));
    EXPECT_THAT(run("setDesignator", {R"("d1")"}), ElementsAre(R"({"Code":3})"));
    EXPECT_THAT(run("setDesignator", {R"("d1")", "5"}), ElementsAre(R"({"Code":3})"));
}

} // namespace
} // namespace hil
