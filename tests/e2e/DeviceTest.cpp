// SPDX-License-Identifier: Apache-2.0
// The Device service end to end: device descriptions of the sample devices over TCP.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "tests/e2e/EventLog.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

class DeviceTest : public testing::Test {
protected:
    fakes::TempDirectory directory;
    BackendProcess backend{BackendProcess::withProbeDirectory(directory.path())};
    std::unique_ptr<tcf::TcfClient> client = connect(backend);
};

TEST_F(DeviceTest, SampleDeviceIsDescribedByNameInAnyCaseAndUnknownPartsAreClearErrors)
{
    EXPECT_THAT(client->call("Device", "getDeviceInfo", {R"("demo8")"}).values,
                ElementsAre("", R"({"name":"demo8","architecture":"ORIX8","series":"demo8",)"
                                R"("addresspaces":["prog","data","eeprom","fuses","lockbits","signatures"]})"));
    // The second question is answered from the cache, under the name first asked for.
    EXPECT_THAT(client->call("Device", "getDeviceInfo", {R"("DEMO8")"}).values.at(1), HasSubstr(R"("name":"demo8")"));

    const auto reply = client->call("Device", "getRegisterGroupInstance", {R"("DEMO8")", R"("PORT")", R"("PORT1")"});
    ASSERT_EQ(reply.values.at(0), "");
    const auto group = boost::json::parse(reply.values.at(1)).as_object();
    EXPECT_EQ(group.at("address"), 0x26);
    EXPECT_EQ(group.at("address-space"), "data");
    EXPECT_EQ(group.at("registers").as_array().size(), 3u);
    EXPECT_THAT(client->call("Device", "getPropertyGroup", {R"("DEMO8")", R"("SIGNATURES")"}).values.at(1),
                HasSubstr(R"({"name":"SIGNATURE1","value":"0x95"})"));

    EXPECT_THAT(client->call("Device", "getDeviceInfo", {R"("DEMO99")"}).values,
                ElementsAre(R"({"Code":131106,"Format":"No device files were found for the specified device","AltOrg":"HIL"})"));
    EXPECT_THAT(client->call("Device", "getModule", {R"("DEMO8")", R"("DMA")"}).values,
                ElementsAre(R"({"Code":131120,"Format":"Could not get Module DMA for DEMO8"})"));
}

TEST_F(DeviceTest, SampleAppletsAreFoundForTheirDevice)
{
    const auto reply = client->call("Device", "getAvailableApplets", {R"("DEMO8")"});
    ASSERT_EQ(reply.values.at(0), "");
    const auto kinds = boost::json::parse(reply.values.at(1)).as_array();
    ASSERT_EQ(kinds.size(), 1u);
    EXPECT_EQ(kinds[0].at("type"), "Floka");
    std::vector<std::string> names;
    for (const auto& applet : kinds[0].at("applets").as_array())
        names.emplace_back(applet.at("name").as_string());
    // The folder lists in no fixed order; the low-level init file is no applet.
    EXPECT_THAT(names, testing::UnorderedElementsAre("flash", "eeprom", "fuses"));
}

TEST_F(DeviceTest, SimulatorDeviceGoesThroughADebuggingSession)
{
    EventLog events;
    events.attach(*client);
    const auto made = client->call("Tool", "setupTool", {R"("com.velmora.hil.simulator")", R"("")", "{}"});
    ASSERT_THAT(made.values, ElementsAre("", R"("simulator-1")"));
    ASSERT_THAT(client->call("Tool", "connect", {R"("simulator-1")"}).values, ElementsAre(""));
    EXPECT_TRUE(events.waitUntil([](const std::string& event) {
        return event.rfind(R"(Device contextAdded [{"ID":"simulator-1.DEMO8","Name":"DEMO8")", 0) == 0;
    }));
    const std::string device = R"("simulator-1.DEMO8")";
    EXPECT_THAT(client->call("Device", "getChildren", {R"("")"}).values, ElementsAre("", "[" + device + "]"));
    EXPECT_THAT(client->call("Device", "startSession", {device, R"("DebuggingSession")"}).values,
                ElementsAre("", R"({"signature":2004237})"));
    EXPECT_THAT(client->call("Device", "getInfo", {device, "0"}).values,
                ElementsAre("", R"({"Name":"DEMO8","Architecture":"ORIX8","Series":"demo8","Session":"DebuggingSession"})"));

    for (const auto operation : {"1", "2", "4"})
        EXPECT_THAT(client->call("Device", "specialOperation", {device, operation}).values, ElementsAre(""));
    EXPECT_TRUE(events.waitFor("Device externalReset " + device));
    EXPECT_TRUE(events.waitFor("Device powerStateChanged " + device));
    EXPECT_TRUE(events.waitFor("Device targetEvent " + device));

    EXPECT_THAT(client->call("Tool", "disconnect", {R"("simulator-1")"}).values, ElementsAre(""));
    EXPECT_TRUE(events.waitFor("Device contextRemoved [" + device + "]"));
}

} // namespace
} // namespace hil::e2e
