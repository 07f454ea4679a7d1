// SPDX-License-Identifier: Apache-2.0
// Target events fired from the simulated device's own thread, and memory written by other
// threads, while commands run on the command thread: every event arrives whole and every command
// replies once. Run under tsan.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/device/DeviceCommandServer.h"
#include "core/memory/MemoryCommandServer.h"
#include "platform/common/Base64.h"
#include "tests/bundles/SimulatedDeviceFixture.h"
#include "tests/fakes/RecordingChannel.h"
#include "tests/fakes/RecordingEventSink.h"

namespace hil::simulator {
namespace {

using testing::ElementsAre;

/// The real services over the sample devices, with the command server of the test's own.
using SimulatorThreads = SimulatedDeviceTest;

TEST_F(SimulatorThreads, TargetEventsWhileCommandsRun)
{
    fakes::ScopedEventRecorder events;
    DeviceCommandServer server(debugger, deviceService);
    connectedDevice();
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
    tool.disconnect(status);
    ++expected; // "contextRemoved"
    const auto sent = events.waitForEvents(expected);
    EXPECT_EQ(sent.size(), expected);
    EXPECT_EQ(channel.replies.size(), static_cast<std::size_t>(2 * kRounds));
}

TEST_F(SimulatorThreads, MemoryWrittenFromOtherThreadsWhileCommandsReadIt)
{
    fakes::ScopedEventRecorder events;
    MemoryCommandServer server(debugger, memoryService);
    connectedDevice();
    const auto data = std::dynamic_pointer_cast<IMemoryContext>(memoryService->getContextFromId("sim-1.DEMO8.data"));
    ASSERT_NE(data, nullptr);

    constexpr int kWrites = 200;
    // Two driver threads: one writes straight through, one through a cached range it commits.
    std::thread direct([&] {
        for (int i = 0; i < kWrites; ++i) {
            std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(i)};
            MemoryErrorMapPtr errors;
            data->writeMemory(0x100, 1, bytes, 0, 1, 0, nullptr, errors);
        }
    });
    std::thread cached([&] {
        data->cacheMemoryRange(0x200, 16, 0);
        for (int i = 0; i < kWrites; ++i) {
            std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(i)};
            MemoryErrorMapPtr errors;
            data->writeMemory(0x200, 1, bytes, 0, 1, 0, nullptr, errors);
            data->commitMemoryCache(nullptr, errors);
        }
    });
    fakes::RecordingChannel channel;
    for (int i = 0; i < kWrites; ++i)
        EXPECT_EQ(fakes::call(server, channel, "get", {R"("sim-1.DEMO8.data")", "256", "1", "512", "0"}).size(), 3u);
    direct.join();
    cached.join();
    EXPECT_EQ(events.eventsNamed("memoryChanged").size(), static_cast<std::size_t>(2 * kWrites));
    EXPECT_THAT(fakes::call(server, channel, "get", {R"("sim-1.DEMO8.data")", "512", "1", "1", "0"}),
                ElementsAre(base64_json_string(std::vector<std::uint8_t>{kWrites - 1}), "", "[]"));
}

} // namespace
} // namespace hil::simulator
