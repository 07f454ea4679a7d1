// SPDX-License-Identifier: Apache-2.0
// The services of a target end to end over the simulator: memory, registers, messages, stimuli.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

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

TEST_F(TargetServicesTest, DeviceListsItsMemoriesAndEachDescribesItsSpace)
{
    EXPECT_TRUE(listener.waitFor(R"(Memory contextAdded [{"ID":"simulator-1.DEMO8.prog","ParentID":"simulator-1.DEMO8",)"
                                 R"("Name":"prog","StartBound":0,"EndBound":32767,"AddressSize":2,"BigEndian":false,)"
                                 R"("AccessTypes":["instruction"]},)"
                                 R"({"ID":"simulator-1.DEMO8.data","ParentID":"simulator-1.DEMO8","Name":"data",)"
                                 R"("StartBound":0,"EndBound":2303,"AddressSize":2,"BigEndian":false,"AccessTypes":["data","io"]},)"
                                 R"({"ID":"simulator-1.DEMO8.eeprom","ParentID":"simulator-1.DEMO8","Name":"eeprom",)"
                                 R"("StartBound":0,"EndBound":1023,"AddressSize":2,"BigEndian":false,"AccessTypes":["data"]},)"
                                 R"({"ID":"simulator-1.DEMO8.fuses","ParentID":"simulator-1.DEMO8","Name":"fuses",)"
                                 R"("StartBound":0,"EndBound":2,"AddressSize":2,"BigEndian":false,"AccessTypes":["data"]},)"
                                 R"({"ID":"simulator-1.DEMO8.lockbits","ParentID":"simulator-1.DEMO8","Name":"lockbits",)"
                                 R"("StartBound":0,"EndBound":0,"AddressSize":2,"BigEndian":false,"AccessTypes":["data"]},)"
                                 R"({"ID":"simulator-1.DEMO8.signatures","ParentID":"simulator-1.DEMO8","Name":"signatures",)"
                                 R"("StartBound":0,"EndBound":2,"AddressSize":2,"BigEndian":false,"AccessTypes":["data"]}])"));
    EXPECT_THAT(observer->call("Memory", "getChildren", {kDevice}).values,
                ElementsAre("", R"(["simulator-1.DEMO8.prog","simulator-1.DEMO8.data","simulator-1.DEMO8.eeprom",)"
                                R"("simulator-1.DEMO8.fuses","simulator-1.DEMO8.lockbits","simulator-1.DEMO8.signatures"])"));
}

TEST_F(TargetServicesTest, WriteIsReadBackAndAnnouncedToEveryClient)
{
    EXPECT_THAT(client->call("Memory", "set", {kData, "256", "1", "5", "0", R"("SGVsbG8=")"}).values, ElementsAre("", "[]"));
    EXPECT_TRUE(listener.waitForWhole(R"(Memory memoryChanged "simulator-1.DEMO8.data" [{"addr":256,"size":5}])"));
    EXPECT_THAT(client->call("Memory", "get", {kData, "255", "1", "7", "0"}).values,
                ElementsAre(R"("AEhlbGxvAA==")", "", "[]"));
    // Beyond the space: the reachable bytes are read, the rest reported.
    EXPECT_THAT(observer->call("Memory", "get", {kData, "2302", "1", "4", "0"}).values,
                ElementsAre(R"("AAAAAA==")", "", R"([{"addr":2304,"size":2,"stat":2,"msg":""}])"));
}

TEST_F(TargetServicesTest, FillAndCacheFollowTheStandardLayouts)
{
    EXPECT_THAT(client->call("Memory", "fill", {kData, "512", "1", "4", "0", "[1,2]"}).values, ElementsAre("", "[]"));
    EXPECT_THAT(client->call("Memory", "cacheRange", {kData, "512", "2", "0"}).values, ElementsAre(""));
    EXPECT_THAT(client->call("Memory", "set", {kData, "512", "1", "2", "0", R"("CQk=")"}).values, ElementsAre("", "[]"));
    EXPECT_THAT(client->call("Memory", "commitCache", {kData, "0", "0", "0", "0", "0"}).values, ElementsAre(""));
    EXPECT_THAT(client->call("Memory", "get", {kData, "512", "1", "4", "0"}).values, ElementsAre(R"("CQkBAg==")", "", "[]"));
    EXPECT_TRUE(listener.waitForWhole(R"(Memory memoryChanged "simulator-1.DEMO8.data" [{"addr":512,"size":2}])"));
}

TEST_F(TargetServicesTest, RegistersThroughGetmAndSetmAreAnnounced)
{
    const std::string sp = R"("simulator-1.DEMO8.SP")";
    const auto children = client->call("Registers", "getChildren", {kDevice}).values;
    ASSERT_EQ(children.at(0), "");
    EXPECT_EQ(boost::json::parse(children.at(1)).as_array().size(), 35u);
    EXPECT_THAT(client->call("Registers", "getContext", {sp}).values,
                ElementsAre("", R"({"ID":"simulator-1.DEMO8.SP","ParentID":"simulator-1.DEMO8","Name":"SP","Size":2,)"
                                R"("Readable":true,"Writeable":true,"BigEndian":false,"Role":"SP"})"));
    // SP = 0x08FF and R0 = 0x42 in one command.
    EXPECT_THAT(client->call("Registers", "setm", {R"([["simulator-1.DEMO8.SP",0,2],["simulator-1.DEMO8.R0",0,1]])",
                                                   R"("/whC")"}).values,
                ElementsAre(""));
    EXPECT_TRUE(listener.waitFor("Registers registerChanged " + sp));
    EXPECT_TRUE(listener.waitFor(R"(Registers registerChanged "simulator-1.DEMO8.R0")"));
    EXPECT_THAT(client->call("Registers", "getm", {R"([["simulator-1.DEMO8.SP",1,1],["simulator-1.DEMO8.R0",0,1]])"}).values,
                ElementsAre("", R"("CEI=")"));
    EXPECT_THAT(client->call("Registers", "get", {sp}).values, ElementsAre("", R"("/wg=")"));
    // A whole value of the wrong length is the register's own error.
    EXPECT_THAT(client->call("Registers", "set", {sp, R"("AQ==")"}).values,
                ElementsAre(R"({"Code":1,"Service":"Registers","Format":"register SP takes 2 bytes, not 1"})"));
}

TEST_F(TargetServicesTest, DisconnectTakesTheMemoriesAndRegistersAway)
{
    EXPECT_THAT(client->call("Tool", "disconnect", {R"("simulator-1")"}).values, ElementsAre(""));
    EXPECT_TRUE(listener.waitUntil([](const std::string& event) { return event.rfind("Memory contextRemoved", 0) == 0; }));
    EXPECT_TRUE(listener.waitUntil([](const std::string& event) { return event.rfind("Registers contextRemoved", 0) == 0; }));
    EXPECT_THAT(client->call("Memory", "get", {kData, "0", "1", "1", "0"}).values,
                ElementsAre(R"({"Code":16,"Format":"Invalid context simulator-1.DEMO8.data,","AltOrg":"libtcf"})"));
    // Once the parent is gone its id is just unknown.
    EXPECT_THAT(client->call("Registers", "getChildren", {kDevice}).values,
                ElementsAre(R"({"Code":16,"Format":"Invalid context simulator-1.DEMO8,","AltOrg":"libtcf"})"));
}

TEST_F(TargetServicesTest, MessagesArriveAsASessionStartsAndFollowTheirSettings)
{
    const std::string messages = R"("simulator-1.DEMO8.messages")";
    EXPECT_THAT(client->call("Device", "startSession", {kDevice, R"("ProgrammingSession")"}).values.at(0), "");
    EXPECT_TRUE(listener.waitForWhole(
        R"(Message message "simulator-1.DEMO8.messages" "DEMO8" "ProgrammingSession started on simulator-1.DEMO8")"));
    EXPECT_THAT(client->call("Message", "setProperties", {messages, R"({"ContextName":"board 7"})"}).values, ElementsAre(""));
    EXPECT_THAT(client->call("Device", "endSession", {kDevice}).values, ElementsAre(""));
    EXPECT_TRUE(listener.waitForWhole(
        R"(Message message "simulator-1.DEMO8.messages" "board 7" "ProgrammingSession ended on simulator-1.DEMO8")"));
    EXPECT_THAT(client->call("Message", "setProperties", {messages, R"({"ReportingActive":"no"})"}).values,
                ElementsAre(R"({"Code":1,"Service":"Message","Format":"ReportingActive must be true or false"})"));
    EXPECT_THAT(client->call("Message", "setProperties", {R"("")", "{}"}).values, ElementsAre(R"({"Code":3})"));
}

TEST_F(TargetServicesTest, AStimulusOnADesignatedPortShowsUpInMemory)
{
    EXPECT_THAT(client->call("Stimuli", "getStimuliTypes").values, ElementsAre("", R"(["com.velmora.hil.simulator.stimuli"])"));
    EXPECT_THAT(client->call("Stimuli", "setDesignator", {kDevice, R"("bench")"}).values, ElementsAre(""));
    const std::string stimulus =
        R"({"Configuration":{"Channels":[{"Designator":"bench","Space":"data","Address":35,"Value":[90]}]}})";
    EXPECT_THAT(client->call("Tool", "SpecialOperation", {R"("simulator-1")", R"("stimulate")", stimulus}).values,
                ElementsAre("", ""));
    EXPECT_TRUE(listener.waitForWhole(R"(Memory memoryChanged "simulator-1.DEMO8.data" [{"addr":35,"size":1}])"));
    EXPECT_THAT(client->call("Memory", "get", {kData, "35", "1", "1", "0"}).values, ElementsAre(R"("Wg==")", "", "[]"));
    EXPECT_THAT(client->call("Stimuli", "setDesignator", {R"("simulator-1.DEMO8.data")", R"("x")"}).values,
                ElementsAre(R"({"Code":16,"Format":"Invalid context simulator-1.DEMO8.data,","AltOrg":"libtcf"})"));
}

} // namespace
} // namespace hil::e2e
