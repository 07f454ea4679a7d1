// SPDX-License-Identifier: Apache-2.0
// The Tool service end to end: the real back-end with the simulator bundle, its virtual probes
// plugged in and pulled out as files.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "tests/e2e/EventLog.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using namespace std::chrono_literals;
using testing::ElementsAre;
using testing::HasSubstr;

const std::string kSimulator = R"("com.velmora.hil.simulator")";
const std::string kVirtualProbe = R"("com.velmora.hil.virtualprobe")";
const std::string kVirtualConnection = R"("com.velmora.hil.connection.virtual")";
const std::string kSimulatorListed =
    R"({"ToolType":"com.velmora.hil.simulator","ConnectionType":"","ConnectionProperties":{}})";

std::string virtualProbeListed(const std::string& properties)
{
    return R"({"ToolType":"com.velmora.hil.virtualprobe","ConnectionType":"com.velmora.hil.connection.virtual",)"
           R"("ConnectionProperties":)" +
           properties + "}";
}

class ToolTest : public testing::Test {
protected:
    /// Plugs in a virtual probe; the back-end sees it at its next look.
    void plugIn(const std::string& name, const std::string& properties) const
    {
        directory.write("probes/" + name + ".probe", properties);
    }
    void pullOut(const std::string& name) const { std::filesystem::remove(directory.path() / "probes" / (name + ".probe")); }

    /// Sets up the simulator for `client` and returns its id.
    static std::string setupSimulator(tcf::TcfClient& client)
    {
        const auto reply = client.call("Tool", "setupTool", {kSimulator, "\"\"", "{}"});
        EXPECT_EQ(reply.values.at(0), "");
        return boost::json::parse(reply.values.at(1)).as_string().c_str();
    }

    fakes::TempDirectory directory;
    BackendProcess backend{BackendProcess::withProbeDirectory(directory.path())};
};

TEST_F(ToolTest, ContextAddedArrivesBeforeTheSetupReplyAndTearDownSendsNoContextRemoved)
{
    auto client = connect(backend);
    EventLog events;
    events.attach(*client);
    const std::string id = setupSimulator(*client);
    // The client hands events over in arrival order, before it completes the reply.
    ASSERT_EQ(events.count(), 1u);
    EXPECT_THAT(events.events()[0], HasSubstr(R"(Tool contextAdded [{"ID":")" + id + "\""));
    EXPECT_THAT(client->call("Tool", "getChildren", {"\"\""}).values, ElementsAre("", "[\"" + id + "\"]"));

    EXPECT_THAT(client->call("Tool", "tearDownTool", {"\"" + id + "\""}).values, ElementsAre(""));
    client->call("Locator", "sync");
    EXPECT_EQ(events.count(), 1u) << "tear-down announced something";
    EXPECT_THAT(client->call("Tool", "getChildren", {"\"\""}).values, ElementsAre("", "[]"));
}

TEST_F(ToolTest, SimulatorIsAttachedWithNothingPluggedInAndRunsEveryOperation)
{
    auto client = connect(backend);
    EXPECT_THAT(client->call("Tool", "getSupportedToolTypes").values,
                ElementsAre("", "[" + kSimulator + "," + kVirtualProbe + "]"));
    EXPECT_THAT(client->call("Tool", "getAttachedTools", {"\"\""}).values, ElementsAre("", "[" + kSimulatorListed + "]"));
    const std::string id = "\"" + setupSimulator(*client) + "\"";
    EXPECT_THAT(client->call("Tool", "setProperties", {id, R"({"DeviceName":"DEMO32"})"}).values, ElementsAre(""));
    EXPECT_THAT(client->call("Tool", "connect", {id}).values, ElementsAre(""));
    const auto context = boost::json::parse(client->call("Tool", "getContext", {id}).values.at(1)).as_object();
    EXPECT_EQ(context.at("State"), "Ready");
    EXPECT_EQ(context.at("DeviceName"), "DEMO32");
    EXPECT_THAT(client->call("Tool", "detectDevices", {id}).values, ElementsAre("", R"([{"Name":"DEMO32","Interface":"SWD"}])"));
    EXPECT_THAT(client->call("Tool", "getTargetVoltage", {id}).values, ElementsAre("", "3.3E0"));
    // Raw command 0x01 echoes the rest: "AQID" is 01 02 03.
    EXPECT_THAT(client->call("Tool", "cmd", {id, "\"AQID\""}).values, ElementsAre("\"AgM=\"", "", ""));
    EXPECT_THAT(client->call("Tool", "genericStringCommand", {id, "\"echo hello\""}).values, ElementsAre("", "\"hello\""));
    EXPECT_THAT(client->call("Tool", "calibrate", {id}).values, ElementsAre("", "true"));
    EXPECT_THAT(client->call("Tool", "cancel", {id}).values,
                ElementsAre(R"({"Code":3,"Service":"Tool","Format":"This function is not implemented"})"));
    EXPECT_THAT(client->call("Tool", "disconnect", {id}).values, ElementsAre(""));
}

TEST_F(ToolTest, UpgradeReportsProgressBeforeItsReply)
{
    auto client = connect(backend);
    const std::string id = "\"" + setupSimulator(*client) + "\"";
    EXPECT_THAT(client->call("Tool", "checkFirmware", {id}).values.at(0), HasSubstr("older than"));
    std::vector<std::string> progress;
    auto reply = client->send("Tool", "startUpgrade", {id, "false"},
                              [&](const std::vector<std::string>& values) { progress.push_back(values.at(0)); });
    ASSERT_EQ(reply.wait_for(10s), std::future_status::ready);
    EXPECT_THAT(reply.get().values, ElementsAre(""));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), R"({"Progress":100,"Phase":"writing"})");
    EXPECT_THAT(client->call("Tool", "checkFirmware", {id}).values, ElementsAre(""));
}

TEST_F(ToolTest, LostProbeConnectionIsAnnounced)
{
    auto client = connect(backend);
    EventLog events;
    events.attach(*client);
    const std::string id = "\"" + setupSimulator(*client) + "\"";
    EXPECT_THAT(client->call("Tool", "SpecialOperation", {id, "\"loseConnection\"", R"({"Reason":"cable pulled"})"}).values,
                ElementsAre("", ""));
    EXPECT_TRUE(events.waitFor(R"(Tool connectionLost ["cable pulled"])"));
}

TEST_F(ToolTest, PluggingAndPullingVirtualProbesIsAnnouncedWhilePolling)
{
    auto client = connect(backend);
    EventLog events;
    events.attach(*client);
    EXPECT_THAT(client->call("Tool", "pollForTools", {"true"}).values, ElementsAre(""));
    const std::string onlySimulator = "Tool attachedToolsChanged [" + kSimulatorListed + "]";
    ASSERT_TRUE(events.waitFor(onlySimulator, 3s));

    plugIn("b", R"({"SerialNumber":"VP-2","PortName":"vport1"})");
    plugIn("a", R"({"SerialNumber":"VP-1","PortName":"vport0"})");
    const std::string both = "Tool attachedToolsChanged [" + kSimulatorListed + "," +
                             virtualProbeListed(R"({"SerialNumber":"VP-1","PortName":"vport0"})") + "," +
                             virtualProbeListed(R"({"SerialNumber":"VP-2","PortName":"vport1"})") + "]";
    // Both files may be seen in one pass or in two; either way the full list comes within ~2 s.
    EXPECT_TRUE(events.waitFor(both, 2500ms)) << testing::PrintToString(events.events());

    pullOut("a");
    EXPECT_TRUE(events.waitFor("Tool attachedToolsChanged [" + kSimulatorListed + "," +
                                   virtualProbeListed(R"({"SerialNumber":"VP-2","PortName":"vport1"})") + "]",
                               2500ms));
    EXPECT_THAT(client->call("Tool", "pollForTools", {"false"}).values, ElementsAre(""));
}

TEST_F(ToolTest, VirtualProbeIsSetUpOverItsConnection)
{
    plugIn("a", R"({"SerialNumber":"VP-1","PortName":"vport0"})");
    auto client = connect(backend);
    const auto made = client->call("Tool", "setupTool", {kVirtualProbe, kVirtualConnection, R"({"SerialNumber":"VP-1"})"});
    ASSERT_THAT(made.values, ElementsAre("", "\"virtualprobe-1\""));
    const auto context = boost::json::parse(client->call("Tool", "getContext", {"\"virtualprobe-1\""}).values.at(1));
    EXPECT_EQ(context.at("PortName"), "vport0");

    EXPECT_THAT(client->call("Tool", "setupTool", {kVirtualProbe, kVirtualConnection, R"({"SerialNumber":"VP-9"})"}).values,
                ElementsAre(R"({"Code":131106,"Format":"Failed to create the connection )"
                            R"(com.velmora.hil.connection.virtual with the given props."})",
                            "\"\""));
}

TEST_F(ToolTest, ProbeWithANumericSerialFailsTheListingButNotThePolling)
{
    auto client = connect(backend);
    EventLog events;
    events.attach(*client);
    plugIn("bad", R"({"SerialNumber":42})");
    client->call("Tool", "pollForTools", {"true"});
    const auto listing = client->call("Tool", "getAttachedTools", {"\"\""});
    EXPECT_THAT(listing.values.at(0), HasSubstr("Property SerialNumber is not of expected type"));
    // The polling thread meets the same failure every pass, logs it and goes on...
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (backend.log().find("Polling the attached tools failed") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_THAT(backend.log(), HasSubstr("Polling the attached tools failed"));
    // ...so fixing the file is seen.
    plugIn("bad", R"({"SerialNumber":"VP-42"})");
    EXPECT_TRUE(events.waitUntil([](const std::string& event) { return event.find("VP-42") != std::string::npos; }, 3s));
}

TEST_F(ToolTest, ToolsOfADisconnectedClientAreTornDown)
{
    auto stayer = connect(backend);
    {
        auto leaver = connect(backend);
        setupSimulator(*leaver);
        EXPECT_THAT(stayer->call("Tool", "getChildren", {"\"\""}).values, ElementsAre("", R"(["simulator-1"])"));
    }
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (stayer->call("Tool", "getChildren", {"\"\""}).values.at(1) != "[]" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_THAT(stayer->call("Tool", "getChildren", {"\"\""}).values, ElementsAre("", "[]"));
}

} // namespace
} // namespace hil::e2e
