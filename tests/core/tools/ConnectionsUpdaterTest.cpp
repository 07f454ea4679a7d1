// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>

#include "core/tools/ToolService.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/FakeTools.h"
#include "tests/fakes/LogRecorder.h"

namespace hil {
namespace {

using namespace std::chrono_literals;

const std::string kUsb = "com.velmora.orixdbg.connection.hid";

/// Polling against fake factories; announcements are collected as lists of serial numbers.
class ConnectionsUpdaterTest : public testing::Test {
protected:
    ConnectionsUpdaterTest()
    {
        debugger.factoryManager = manager;
        manager->add(usb);
        auto probe = std::make_shared<fakes::FakeToolFactory>("tool.probe");
        probe->accepts = [](const auto&) { return true; };
        manager->add(probe);
        service->addAttachedToolsListChangedHandler([this](const std::vector<ConnectionInfo>& tools) {
            std::lock_guard lock(mutex);
            std::vector<std::string> serials;
            for (const auto& tool : tools)
                serials.push_back(tool.serialNumber);
            announcements.push_back(serials);
            announced.notify_all();
        });
    }

    void plug(std::vector<std::pair<std::string, std::string>> probes)
    {
        std::vector<std::shared_ptr<IConnection>> connections;
        for (const auto& [serial, port] : probes)
            connections.push_back(std::make_shared<fakes::FakeConnection>(
                kUsb, boost::json::object{{"SerialNumber", serial}, {"PortName", port}}));
        usb->setAttached(connections);
    }

    bool waitForAnnouncements(std::size_t count, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock lock(mutex);
        return announced.wait_for(lock, timeout, [&] { return announcements.size() >= count; });
    }

    std::vector<std::vector<std::string>> snapshot()
    {
        std::lock_guard lock(mutex);
        return announcements;
    }

    fakes::FakeDebugger debugger;
    std::shared_ptr<fakes::FakeFactoryManager> manager = std::make_shared<fakes::FakeFactoryManager>();
    std::shared_ptr<fakes::FakeConnectionFactory> usb = std::make_shared<fakes::FakeConnectionFactory>(kUsb);
    std::shared_ptr<ToolService> service = std::make_shared<ToolService>(debugger);
    std::mutex mutex;
    std::condition_variable announced;
    std::vector<std::vector<std::string>> announcements;
};

TEST_F(ConnectionsUpdaterTest, AnnouncesPlugAndPullButNotAnEmptyStart)
{
    service->startPollingForTools(true);
    EXPECT_FALSE(waitForAnnouncements(1, 1500ms)) << "an empty list at start is no change";
    plug({{"S1", "p0"}});
    ASSERT_TRUE(waitForAnnouncements(1));
    plug({});
    ASSERT_TRUE(waitForAnnouncements(2));
    service->startPollingForTools(false);
    EXPECT_THAT(snapshot(), testing::ElementsAre(testing::ElementsAre("S1"), testing::IsEmpty()));
}

TEST_F(ConnectionsUpdaterTest, StopWaitsForTheThreadAndRestartAnnouncesOnlyDifferences)
{
    plug({{"S1", "p0"}});
    service->startPollingForTools(true);
    service->startPollingForTools(true); // a second start changes nothing
    ASSERT_TRUE(waitForAnnouncements(1));
    service->startPollingForTools(false);
    service->startPollingForTools(false);
    const int listingsAfterStop = usb->listings();
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(usb->listings(), listingsAfterStop) << "the thread still polls after stop returned";

    service->startPollingForTools(true);
    EXPECT_FALSE(waitForAnnouncements(2, 1500ms)) << "same probes after a restart are no change";
    service->startPollingForTools(false);
}

TEST_F(ConnectionsUpdaterTest, FailingPassIsLoggedAndPollingGoesOn)
{
    fakes::LogRecorder log(LogMask::Error);
    usb->throwOnList = true;
    service->startPollingForTools(true);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (usb->listings() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_GE(usb->listings(), 2);
    plug({{"S1", "p0"}});
    usb->throwOnList = false;
    ASSERT_TRUE(waitForAnnouncements(1));
    service->startPollingForTools(false);
    EXPECT_THAT(log.lines(), testing::Contains("toolService|Polling the attached tools failed: enumeration failed"));
}

TEST_F(ConnectionsUpdaterTest, DestroyingThePollingServiceStopsTheThread)
{
    service->startPollingForTools(true);
    service.reset();
    const int listings = usb->listings();
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(usb->listings(), listings);
}

} // namespace
} // namespace hil
