// Target events fired from the simulated device's own thread while commands run on the command
// thread: every event arrives whole and every command replies once. Run under tsan.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "bundles/simulator/SimulatedTool.h"
#include "bundles/simulator/SimulatorToolFactories.h"
#include "core/device/DeviceCommandServer.h"
#include "core/device/DeviceService.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/FakeTools.h"
#include "tests/fakes/RecordingChannel.h"
#include "tests/fakes/RecordingEventSink.h"

namespace hil::simulator {
namespace {

using testing::ElementsAre;

TEST(SimulatorThreads, TargetEventsWhileCommandsRun)
{
    fakes::FakeDebugger debugger;
    auto manager = std::make_shared<fakes::FakeFactoryManager>();
    manager->preferences["packmanager.dir"] = HIL_PACK_LIBRARY_DIR;
    debugger.factoryManager = manager;
    auto deviceService = std::make_shared<DeviceService>(debugger);
    debugger.addService(deviceService);
    fakes::ScopedEventRecorder events;
    DeviceCommandServer server(debugger, deviceService);
    SimulatedTool tool(debugger, "sim-1", "simulator", kSimulatorToolType, nullptr);
    Status connected;
    tool.connect(connected);
    ASSERT_TRUE(connected.isOk()) << connected.getMessage();
    const std::string device = R"("sim-1.DEMO8")";

    constexpr int kRounds = 50;
    fakes::RecordingChannel channel;
    std::size_t expected = 1; // "contextAdded"
    for (int round = 0; round < kRounds; ++round) {
        // Each special operation starts a report on the device's thread; the next command runs
        // while it is being sent. A reset (1) reports twice; power off, power on and a target
        // event once each.
        const int operation = 1 + round % 4;
        expected += operation == 1 ? 2 : 1;
        EXPECT_THAT(fakes::call(server, channel, "specialOperation", {device, std::to_string(operation)}),
                    ElementsAre(""));
        EXPECT_EQ(fakes::call(server, channel, "getInfo", {device, "0"}).size(), 2u);
    }
    tool.disconnect(connected);
    ++expected; // "contextRemoved"
    const auto sent = events.waitForEvents(expected);
    EXPECT_EQ(sent.size(), expected);
    EXPECT_EQ(channel.replies.size(), static_cast<std::size_t>(2 * kRounds));
}

} // namespace
} // namespace hil::simulator
