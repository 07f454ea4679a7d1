// SPDX-License-Identifier: Apache-2.0
// The services of a target end to end over the simulator: memory and registers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/e2e/EventLog.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using testing::ElementsAre;

/// One client drives a simulated DEMO8; a second one only listens.
class TargetServicesTest : public testing::Test {
protected:
    TargetServicesTest()
    {
        listener.attach(*observer);
        EXPECT_THAT(client->call("Tool", "setupTool", {R"("com.velmora.hil.simulator")", R"("")", "{}"}).values,
                    ElementsAre("", R"("simulator-1")"));
        EXPECT_THAT(client->call("Tool", "connect", {R"("simulator-1")"}).values, ElementsAre(""));
    }

    fakes::TempDirectory directory;
    BackendProcess backend{BackendProcess::withProbeDirectory(directory.path())};
    std::unique_ptr<tcf::TcfClient> client = connect(backend);
    std::unique_ptr<tcf::TcfClient> observer = connect(backend);
    EventLog listener;
};

const std::string kDevice = R"("simulator-1.DEMO8")";
const std::string kData = R"("simulator-1.DEMO8.data")";

/// One flow through the real back-end: that the simulator's contexts reach the Memory and
/// Registers servers and what they announce reaches every client. The layouts of each command are
/// the command servers' tests' business, what the target does the simulator's.
TEST_F(TargetServicesTest, MemoriesAndRegistersAreServedAnnouncedToEveryClientAndGoWithTheTool)
{
    EXPECT_THAT(observer->call("Memory", "getChildren", {kDevice}).values,
                ElementsAre("", R"(["simulator-1.DEMO8.prog","simulator-1.DEMO8.data","simulator-1.DEMO8.eeprom",)"
                                R"("simulator-1.DEMO8.fuses","simulator-1.DEMO8.lockbits","simulator-1.DEMO8.signatures"])"));
    EXPECT_THAT(client->call("Memory", "set", {kData, "256", "1", "5", "0", R"("SGVsbG8=")"}).values, ElementsAre("", "[]"));
    EXPECT_TRUE(listener.waitForWhole(R"(Memory memoryChanged "simulator-1.DEMO8.data" [{"addr":256,"size":5}])"));
    EXPECT_THAT(observer->call("Memory", "get", {kData, "255", "1", "7", "0"}).values,
                ElementsAre(R"("AEhlbGxvAA==")", "", "[]"));

    // SP = 0x08FF and R0 = 0x42 in one command.
    EXPECT_THAT(client->call("Registers", "setm", {R"([["simulator-1.DEMO8.SP",0,2],["simulator-1.DEMO8.R0",0,1]])",
                                                   R"("/whC")"}).values,
                ElementsAre(""));
    EXPECT_TRUE(listener.waitFor(R"(Registers registerChanged "simulator-1.DEMO8.SP")"));
    EXPECT_THAT(observer->call("Registers", "getm", {R"([["simulator-1.DEMO8.SP",1,1],["simulator-1.DEMO8.R0",0,1]])"}).values,
                ElementsAre("", R"("CEI=")"));

    EXPECT_THAT(client->call("Tool", "disconnect", {R"("simulator-1")"}).values, ElementsAre(""));
    EXPECT_TRUE(listener.waitUntil([](const std::string& event) { return event.rfind("Memory contextRemoved", 0) == 0; }));
    EXPECT_TRUE(listener.waitUntil([](const std::string& event) { return event.rfind("Registers contextRemoved", 0) == 0; }));
    EXPECT_THAT(observer->call("Registers", "getChildren", {kDevice}).values,
                ElementsAre(R"({"Code":16,"Format":"Invalid context simulator-1.DEMO8,","AltOrg":"libtcf"})"));
}

} // namespace
} // namespace hil::e2e
