// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <future>

#include <boost/json/serialize.hpp>

#include "bundles/simulator/SimulatedTool.h"
#include "core/device/DeviceService.h"
#include "tests/fakes/FakeTools.h"
#include "bundles/simulator/SimulatorToolFactories.h"
#include "bundles/simulator/VirtualProbes.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/LogRecorder.h"
#include "tests/fakes/RecordingChannel.h"
#include "tests/bundles/SimulatedDeviceFixture.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::simulator {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

std::vector<std::string> serials(const std::vector<std::shared_ptr<IConnection>>& connections)
{
    std::vector<std::string> found;
    for (const auto& connection : connections)
        found.emplace_back(connection->getConnectionProperties().at("SerialNumber").as_string());
    return found;
}

class VirtualProbesTest : public testing::Test {
protected:
    fakes::TempDirectory directory;
    VirtualConnectionFactory factory{directory.path()};
};

TEST_F(VirtualProbesTest, ProbeFilesAreListedInNameOrderWithTheirPropertiesInFileOrder)
{
    directory.write("b.probe", R"({"SerialNumber":"VP-B","PortName":"p1"})");
    directory.write("a.probe", R"({"SerialNumber":"VP-A"})");
    directory.write("notes.txt", R"({"SerialNumber":"VP-X"})");
    directory.write("sub/c.probe", R"({"SerialNumber":"VP-C"})");
    const auto attached = factory.getAttachedConnections();
    EXPECT_THAT(serials(attached), ElementsAre("VP-A", "VP-B"));
    EXPECT_EQ(attached[1]->getConnectionType(), kVirtualConnectionType);
    EXPECT_EQ(boost::json::serialize(attached[1]->getConnectionProperties()), R"({"SerialNumber":"VP-B","PortName":"p1"})");
}

TEST_F(VirtualProbesTest, BadFileIsSkippedAndReportedOnceUntilItIsFixed)
{
    fakes::LogRecorder log;
    directory.write("a.probe", R"({"SerialNumber":"VP-A"})");
    directory.write("bad.probe", "[1,2]");
    EXPECT_THAT(serials(factory.getAttachedConnections()), ElementsAre("VP-A"));
    EXPECT_THAT(serials(factory.getAttachedConnections()), ElementsAre("VP-A"));
    directory.write("bad.probe", R"({"SerialNumber":"VP-OK"})");
    EXPECT_THAT(serials(factory.getAttachedConnections()), ElementsAre("VP-A", "VP-OK"));
    directory.write("bad.probe", "not json");
    factory.getAttachedConnections();
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], HasSubstr("bad.probe: not a JSON object"));
}

TEST(VirtualProbes, MissingDirectoryMeansNothingIsPluggedIn)
{
    VirtualConnectionFactory factory("/nonexistent/hilcore/probes");
    EXPECT_TRUE(factory.getAttachedConnections().empty());
    EXPECT_EQ(factory.createConnection({{"SerialNumber", "VP-A"}}), nullptr);
}

TEST_F(VirtualProbesTest, ConnectionIsMadeOnlyToAnAttachedProbeNamedBySerialOrPort)
{
    directory.write("a.probe", R"({"SerialNumber":"VP-A","PortName":"p0"})");
    directory.write("b.probe", R"({"SerialNumber":"VP-B","PortName":"p1"})");
    struct Case {
        boost::json::object properties;
        std::string serial; ///< empty: no connection
    };
    const std::vector<Case> cases{
        {{{"SerialNumber", "VP-B"}}, "VP-B"},
        {{{"PortName", "p0"}}, "VP-A"},
        {{{"SerialNumber", "VP-A"}, {"PortName", "p1"}}, "VP-A"}, // the serial number decides
        {{{"SerialNumber", "VP-Z"}}, ""},
        {{{"SerialNumber", 7}}, ""},
        {{}, ""},
    };
    for (const auto& c : cases) {
        const auto connection = factory.createConnection(c.properties);
        if (c.serial.empty())
            EXPECT_EQ(connection, nullptr) << boost::json::serialize(c.properties);
        else
            EXPECT_THAT(serials({connection}), ElementsAre(c.serial)) << boost::json::serialize(c.properties);
    }
}

TEST(SimulatorToolFactories, OnlyTheVirtualProbeNeedsAndAcceptsAVirtualConnection)
{
    fakes::FakeDebugger debugger;
    SimulatorToolFactory simulator;
    VirtualProbeToolFactory probe;
    const auto virtualConnection = std::make_shared<VirtualConnection>(boost::json::object{{"SerialNumber", "VP-A"}});
    EXPECT_EQ(simulator.getToolName(), "simulator");
    EXPECT_FALSE(simulator.acceptsConnection(virtualConnection));
    EXPECT_TRUE(probe.acceptsConnection(virtualConnection));
    EXPECT_EQ(probe.createTool(debugger, nullptr, kVirtualProbeToolType, nullptr), nullptr);
    EXPECT_EQ(probe.createTool(debugger, nullptr, kVirtualProbeToolType, virtualConnection)->getId(), "virtualprobe-1");
    EXPECT_EQ(simulator.createTool(debugger, nullptr, kSimulatorToolType, nullptr)->getId(), "simulator-1");
    EXPECT_EQ(simulator.createTool(debugger, nullptr, kSimulatorToolType, nullptr)->getId(), "simulator-2");
}

class SimulatedToolTest : public testing::Test {
protected:
    fakes::FakeDebugger debugger;
    SimulatedTool tool{debugger, "sim-1", "simulator", kSimulatorToolType, nullptr};
    Status status;
};

struct RawCase {
    std::vector<std::uint8_t> request;
    std::vector<std::uint8_t> response;
    bool fails;
};

class SimulatedToolRawCommand : public SimulatedToolTest, public testing::WithParamInterface<RawCase> {};

TEST_P(SimulatedToolRawCommand, AnswersItsDocumentedSet)
{
    std::vector<std::uint8_t> response{0xEE};
    tool.genericCommand(status, response, GetParam().request, 1000);
    EXPECT_EQ(!status.isOk(), GetParam().fails);
    EXPECT_EQ(response, GetParam().response);
}

INSTANTIATE_TEST_SUITE_P(Requests, SimulatedToolRawCommand,
                         testing::Values(RawCase{{0x01, 0xCA, 0xFE}, {0xCA, 0xFE}, false},
                                         RawCase{{0x02}, {'S', 'I', 'M', '1', '.', '0'}, false},
                                         RawCase{{0x03}, {0x0C, 0xE4}, false}, // 3300 mV
                                         RawCase{{0x7F}, {}, true}, RawCase{{}, {}, true}));

TEST_F(SimulatedToolTest, UpgradeReportsRisingProgressAndLeavesCurrentFirmware)
{
    tool.checkFirmware(status);
    EXPECT_FALSE(status.isOk());
    fakes::RecordingProgress progress;
    Status upgrade;
    tool.startUpgrade(false, progress, upgrade);
    EXPECT_TRUE(upgrade.isOk());
    ASSERT_EQ(progress.reports.size(), 6u);
    EXPECT_THAT(progress.reports.front(), ElementsAre(R"({"Progress":0,"Phase":"writing"})"));
    EXPECT_THAT(progress.reports.back(), ElementsAre(R"({"Progress":100,"Phase":"writing"})"));
    Status after;
    tool.checkFirmware(after);
    EXPECT_TRUE(after.isOk());
    fakes::RecordingProgress again;
    tool.startUpgrade(false, again, after);
    EXPECT_THAT(again.reports, ElementsAre(ElementsAre(R"({"Progress":100,"Phase":"up to date"})")));
}

TEST_F(SimulatedToolTest, LostConnectionIsReportedFromAnotherThreadAndLeavesTheToolIdle)
{
    tool.connect(status);
    std::promise<std::pair<std::string, std::thread::id>> heard;
    tool.addConnectionLostHandler([&](std::string reason) { heard.set_value({reason, std::this_thread::get_id()}); });
    tool.specialOperation(status, "loseConnection", {{"Reason", "cable pulled"}});
    const auto [reason, thread] = heard.get_future().get();
    EXPECT_EQ(reason, "cable pulled");
    EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_EQ(tool.getProperties().at("State"), "Idle");
}

TEST_F(SimulatedToolTest, PropertiesMergeButTheIdStays)
{
    tool.setToolProperties({{"ID", "other"}, {"DeviceName", "DEMO32"}, {"TargetVoltage", 1.8}});
    EXPECT_EQ(tool.getId(), "sim-1");
    EXPECT_EQ(tool.getProperties().at("ID"), "sim-1");
    EXPECT_EQ(tool.getTargetVoltage(), 1.8);
    tool.specialOperation(status, "setVoltage", {{"Volts", "high"}});
    EXPECT_FALSE(status.isOk());
    tool.setToolProperties({{"TargetVoltage", "unknown"}});
    EXPECT_TRUE(std::isnan(tool.getTargetVoltage()));
}

TEST_F(SimulatedDeviceTest, SessionsRunOneAtATimeAndReportTheSignature)
{
    const auto device = connectedDevice("DEMO32");
    ASSERT_NE(device, nullptr);
    const auto started = device->startSession(status, IDeviceContext::kDebuggingSession, true, nullptr);
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(started->signature, 0x0D320001u);
    EXPECT_EQ(started->jtagId, 0x4BA00477u);
    Status second;
    EXPECT_EQ(device->startSession(second, IDeviceContext::kProgrammingSession, true, nullptr), nullptr);
    EXPECT_FALSE(second.isOk());
    EXPECT_TRUE(device->endSession());
    EXPECT_FALSE(device->endSession());
}

TEST_F(SimulatedDeviceTest, SpecialOperationsFireTheTargetSignalsFromTheDeviceThread)
{
    const auto device = connectedDevice();
    ASSERT_NE(device, nullptr);
    std::promise<std::vector<std::uint8_t>> event;
    device->connectTargetEventSlot(boost::signals2::at_back,
                                   [&](const std::vector<std::uint8_t>& bytes) { event.set_value(bytes); });
    device->runSpecialOperation(status, 4);
    EXPECT_THAT(event.get_future().get(), ElementsAre(0x01, 0x02, 0x03));
    device->runSpecialOperation(status, 99);
    EXPECT_FALSE(status.isOk());
}

} // namespace
} // namespace hil::simulator
