// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <future>

#include <boost/json/serialize.hpp>

#include "bundles/simulator/VirtualProbes.h"
#include "tests/bundles/SimulatedDeviceFixture.h"
#include "tests/fakes/LogRecorder.h"
#include "tests/fakes/RecordingChannel.h"
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

// Each with its connection type and its properties in file order: ToolTest over the wire.
TEST_F(VirtualProbesTest, OnlyProbeFilesOfTheDirectoryItselfAreListedInNameOrder)
{
    directory.write("b.probe", R"({"SerialNumber":"VP-B","PortName":"p1"})");
    directory.write("a.probe", R"({"SerialNumber":"VP-A"})");
    directory.write("notes.txt", R"({"SerialNumber":"VP-X"})");
    directory.write("sub/c.probe", R"({"SerialNumber":"VP-C"})");
    EXPECT_THAT(serials(factory.getAttachedConnections()), ElementsAre("VP-A", "VP-B"));
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

TEST_F(VirtualProbesTest, ConnectionIsMadeOnlyToAnAttachedProbeNamedBySerialOrPort)
{
    directory.write("a.probe", R"({"SerialNumber":"VP-A","PortName":"p0"})");
    directory.write("b.probe", R"({"SerialNumber":"VP-B","PortName":"p1"})");
    struct Case {
        boost::json::object properties;
        std::vector<std::string> serial; ///< empty: no connection
    };
    for (const auto& [properties, serial] : std::vector<Case>{
             {{{"SerialNumber", "VP-B"}}, {"VP-B"}},
             {{{"PortName", "p0"}}, {"VP-A"}},
             {{{"SerialNumber", "VP-A"}, {"PortName", "p1"}}, {"VP-A"}}, // the serial number decides
             {{{"SerialNumber", "VP-Z"}}, {}},
             {{{"SerialNumber", 7}}, {}},
             {{}, {}},
         }) {
        SCOPED_TRACE(boost::json::serialize(properties));
        const auto connection = factory.createConnection(properties);
        EXPECT_EQ(connection ? serials({connection}) : std::vector<std::string>{}, serial);
    }
    // A missing directory means nothing is plugged in.
    EXPECT_TRUE(VirtualConnectionFactory("/nonexistent/hilcore/probes").getAttachedConnections().empty());
}

TEST(SimulatorToolFactories, OnlyTheVirtualProbeNeedsAndAcceptsAVirtualConnection)
{
    fakes::FakeDebugger debugger;
    SimulatorToolFactory simulator;
    VirtualProbeToolFactory probe;
    const auto virtualConnection = std::make_shared<VirtualConnection>(boost::json::object{{"SerialNumber", "VP-A"}});
    EXPECT_FALSE(simulator.acceptsConnection(virtualConnection));
    EXPECT_TRUE(probe.acceptsConnection(virtualConnection));
    EXPECT_EQ(probe.createTool(debugger, nullptr, kVirtualProbeToolType, nullptr), nullptr);
    EXPECT_EQ(probe.createTool(debugger, nullptr, kVirtualProbeToolType, virtualConnection)->getId(), "virtualprobe-1");
    EXPECT_EQ(simulator.createTool(debugger, nullptr, kSimulatorToolType, nullptr)->getId(), "simulator-1");
    EXPECT_EQ(simulator.createTool(debugger, nullptr, kSimulatorToolType, nullptr)->getId(), "simulator-2");
}

/// The tool itself, with the services a connect registers into around it.
using SimulatedToolTest = SimulatedDeviceTest;

TEST_F(SimulatedToolTest, RawCommandsAnswerTheirDocumentedSet)
{
    struct Case {
        std::vector<std::uint8_t> request, response;
        bool fails;
    };
    // The echo (0x01): CliToolTest.ToolVerbsKeepTheToolAcrossLinesAndAScriptStopsAtItsFirstFailure.
    for (const auto& [request, expected, fails] : std::vector<Case>{{{0x02}, {'S', 'I', 'M', '1', '.', '0'}, false},
                                                                    {{0x03}, {0x0C, 0xE4}, false}, // 3300 mV
                                                                    {{0x7F}, {}, true},
                                                                    {{}, {}, true}}) {
        SCOPED_TRACE(testing::PrintToString(request));
        std::vector<std::uint8_t> response{0xEE};
        Status result;
        tool.genericCommand(result, response, request, 1000);
        EXPECT_EQ(!result.isOk(), fails);
        EXPECT_EQ(response, expected);
    }
}

// Firmware checks and progress over the wire: CliToolTest.ToolVerbsKeepTheToolAcrossLinesAndAScriptStopsAtItsFirstFailure.
TEST_F(SimulatedToolTest, UpgradeReportsFromZeroAndASecondOneFindsTheFirmwareUpToDate)
{
    fakes::RecordingProgress progress, again;
    tool.startUpgrade(false, progress, status);
    ASSERT_EQ(progress.reports.size(), 6u);
    EXPECT_THAT(progress.reports.front(), ElementsAre(R"({"Progress":0,"Phase":"writing"})"));
    tool.startUpgrade(false, again, status);
    EXPECT_TRUE(status.isOk());
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

TEST_F(SimulatedDeviceTest, SessionsRunOneAtATimeAndSpecialOperationsFireTheTargetSignalsFromTheDeviceThread)
{
    const auto device = connectedDevice("DEMO32");
    const auto started = device->startSession(status, IDeviceContext::kDebuggingSession, true, nullptr);
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(started->signature, 0x0D320001u);
    EXPECT_EQ(started->jtagId, 0x4BA00477u);
    Status second;
    EXPECT_EQ(device->startSession(second, IDeviceContext::kProgrammingSession, true, nullptr), nullptr);
    EXPECT_FALSE(second.isOk());
    EXPECT_TRUE(device->endSession());
    EXPECT_FALSE(device->endSession());

    std::promise<std::pair<std::vector<std::uint8_t>, std::thread::id>> event;
    device->connectTargetEventSlot(boost::signals2::at_back, [&](const std::vector<std::uint8_t>& bytes) {
        event.set_value({bytes, std::this_thread::get_id()});
    });
    device->runSpecialOperation(status, 4);
    const auto [bytes, thread] = event.get_future().get();
    EXPECT_THAT(bytes, ElementsAre(0x01, 0x02, 0x03));
    EXPECT_NE(thread, std::this_thread::get_id());
    device->runSpecialOperation(status, 99);
    EXPECT_FALSE(status.isOk());
}

} // namespace
} // namespace hil::simulator
