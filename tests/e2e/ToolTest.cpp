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

/// One back-end, one flow: that the bundles' factories, the polling thread, the command server,
/// the simulator's threads and the transport are wired together. What each operation answers is
/// the simulator's and the command server's own tests' business.
TEST(ToolTest, ProbesAreListedSetUpDrivenPolledAndTornDownOverTheWire)
{
    fakes::TempDirectory directory;
    BackendProcess backend{BackendProcess::withProbeDirectory(directory.path())};
    const auto plugIn = [&](const std::string& name, const std::string& properties) {
        directory.write("probes/" + name + ".probe", properties);
    };
    auto client = connect(backend);
    EventLog events;
    events.attach(*client);
    EXPECT_THAT(client->call("Tool", "getSupportedToolTypes").values,
                ElementsAre("", "[" + kSimulator + "," + kVirtualProbe + "]"));
    EXPECT_THAT(client->call("Tool", "getAttachedTools", {"\"\""}).values, ElementsAre("", "[" + kSimulatorListed + "]"));

    // The client hands events over in arrival order, before it completes the reply.
    EXPECT_THAT(client->call("Tool", "setupTool", {kSimulator, "\"\"", "{}"}).values, ElementsAre("", R"("simulator-1")"));
    ASSERT_EQ(events.count(), 1u);
    EXPECT_THAT(events.events()[0], HasSubstr(R"(Tool contextAdded [{"ID":"simulator-1")"));
    const std::string id = R"("simulator-1")";
    EXPECT_THAT(client->call("Tool", "setProperties", {id, R"({"DeviceName":"DEMO32"})"}).values, ElementsAre(""));
    EXPECT_THAT(client->call("Tool", "connect", {id}).values, ElementsAre(""));
    EXPECT_EQ(boost::json::parse(client->call("Tool", "getContext", {id}).values.at(1)).at("State"), "Ready");
    EXPECT_THAT(client->call("Tool", "genericStringCommand", {id, "\"echo hello\""}).values, ElementsAre("", "\"hello\""));

    // Progress reports travel ahead of their reply; a loss travels from the simulator's thread.
    std::vector<std::string> progress;
    auto upgraded = client->send("Tool", "startUpgrade", {id, "false"},
                                 [&](const std::vector<std::string>& values) { progress.push_back(values.at(0)); });
    ASSERT_EQ(upgraded.wait_for(10s), std::future_status::ready);
    EXPECT_THAT(upgraded.get().values, ElementsAre(""));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), R"({"Progress":100,"Phase":"writing"})");
    EXPECT_THAT(client->call("Tool", "SpecialOperation", {id, "\"loseConnection\"", R"({"Reason":"cable pulled"})"}).values,
                ElementsAre("", ""));
    EXPECT_TRUE(events.waitFor(R"(Tool connectionLost ["cable pulled"])"));

    // The polling thread sees probe files come and go.
    EXPECT_THAT(client->call("Tool", "pollForTools", {"true"}).values, ElementsAre(""));
    ASSERT_TRUE(events.waitFor("Tool attachedToolsChanged [" + kSimulatorListed + "]", 3s));
    plugIn("b", R"({"SerialNumber":"VP-2","PortName":"vport1"})");
    plugIn("a", R"({"SerialNumber":"VP-1","PortName":"vport0"})");
    const std::string probeB = virtualProbeListed(R"({"SerialNumber":"VP-2","PortName":"vport1"})");
    // Both files may be seen in one pass or in two; either way the full list comes within ~2 s.
    EXPECT_TRUE(events.waitFor("Tool attachedToolsChanged [" + kSimulatorListed + "," +
                                   virtualProbeListed(R"({"SerialNumber":"VP-1","PortName":"vport0"})") + "," + probeB + "]",
                               2500ms))
        << testing::PrintToString(events.events());
    std::filesystem::remove(directory.path() / "probes" / "a.probe");
    EXPECT_TRUE(events.waitFor("Tool attachedToolsChanged [" + kSimulatorListed + "," + probeB + "]", 2500ms));
    EXPECT_THAT(client->call("Tool", "pollForTools", {"false"}).values, ElementsAre(""));

    // A probe is set up over the connection its factory makes.
    EXPECT_THAT(client->call("Tool", "setupTool", {kVirtualProbe, kVirtualConnection, R"({"SerialNumber":"VP-2"})"}).values,
                ElementsAre("", "\"virtualprobe-1\""));
    EXPECT_EQ(boost::json::parse(client->call("Tool", "getContext", {"\"virtualprobe-1\""}).values.at(1)).at("PortName"),
              "vport1");

    // A tear-down announces nothing.
    const std::size_t heard = events.count();
    EXPECT_THAT(client->call("Tool", "tearDownTool", {id}).values, ElementsAre(""));
    client->call("Locator", "sync");
    EXPECT_EQ(events.count(), heard) << "tear-down announced something";
    EXPECT_THAT(client->call("Tool", "getChildren", {"\"\""}).values, ElementsAre("", R"(["virtualprobe-1"])"));
}

} // namespace
} // namespace hil::e2e
