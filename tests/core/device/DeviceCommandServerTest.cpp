// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/device/DeviceCommandServer.h"
#include "core/device/DeviceService.h"
#include "tests/fakes/FakeDevices.h"
#include "tests/fakes/FakeTools.h"
#include "tests/fakes/TempDirectory.h"
#include "tests/fakes/ServedService.h"

namespace hil {
namespace {

using testing::_;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::NiceMock;
using testing::Return;

const std::string kDevice = R"(<f>
<modules><module name="TC" id="T" version="1">
  <register-group name="TC" size="0x10">
    <register name="CTRL" offset="0x1" size="1" rw="RW"><bitfield name="EN" mask="0x80" rw="RW"/></register>
  </register-group>
</module></modules>
<devices><device architecture="ORIX8" series="demo">
  <address-spaces>
    <address-space id="data" start="0" size="0x100"><memory-segment name="IO" start="0x20" size="0x20" pagesize="4"/></address-space>
    <address-space id="be" size="0x10" endianness="big"/>
  </address-spaces>
  <peripherals><module name="TC">
    <instance name="TC0"><register-group name="TC0" name-in-module="TC" address-space="data" offset="0x20"/></instance>
    <instance name="TC1"><register-group name="TC1" name-in-module="TC" address-space="data" offset="0x30"/>
      <parameters><param name="A" value="1"/></parameters><parameters><param name="B" value="2"/></parameters></instance>
  </module></peripherals>
  <property-groups><property-group name="SIG"><property name="S0" value="0x1E"/></property-group></property-groups>
</device></devices></f>)";

class DeviceCommandServerTest : public testing::Test, protected fakes::ServedService<DeviceService, DeviceCommandServer> {
protected:
    DeviceCommandServerTest()
    {
        applications.write("TESTDEV.tdesc", kDevice);
        manager->preferences["application.dir"] = applications.path().string();
        debugger.factoryManager = manager;
        service->addContext(device);
        service->addContext(fakes::makeContext("tool-1"));
    }

    fakes::TempDirectory applications;
    std::shared_ptr<fakes::FakeFactoryManager> manager = std::make_shared<fakes::FakeFactoryManager>();
    std::shared_ptr<NiceMock<fakes::FakeDeviceContext>> device = std::make_shared<NiceMock<fakes::FakeDeviceContext>>("dev-1");
};

TEST_F(DeviceCommandServerTest, DescriptionCommandsReplyTheirObjectsInOrderAndGroupInstancesTheirPlace)
{
    EXPECT_THAT(run("getDeviceInfo", {R"("testdev")"}),
                ElementsAre("", R"({"name":"testdev","architecture":"ORIX8","series":"demo","addresspaces":["data","be"]})"));
    EXPECT_THAT(run("getAddresspaceInfo", {R"("TESTDEV")", R"("data")"}),
                ElementsAre("", R"({"name":"data","start":0,"size":256,"endianness":"little","segments":)"
                                R"([{"name":"IO","start":32,"size":32,"pagesize":4}]})"));
    EXPECT_THAT(run("getAddresspaceInfo", {R"("TESTDEV")", R"("be")"}).at(1), HasSubstr(R"("endianness":"big")"));
    EXPECT_THAT(run("getModule", {R"("TESTDEV")", R"("TC")"}),
                ElementsAre("", R"({"name":"TC","registerGroups":["TC"],"propertyGroups":[]})"));
    EXPECT_THAT(run("getModuleInstance", {R"("TESTDEV")", R"("TC0")"}),
                ElementsAre("", R"({"name":"TC0","registerGroups":[{"name":"TC0","name-in-module":"TC",)"
                                R"("address-space":"data","offset":32}],"parameters":[]})"));
    EXPECT_THAT(run("getPropertyGroup", {R"("TESTDEV")", R"("SIG")"}),
                ElementsAre("", R"({"name":"SIG","properties":[{"name":"S0","value":"0x1E"}]})"));
    // A group instance has a place, a definition has none.
    EXPECT_THAT(run("getRegisterGroupInstance", {R"("TESTDEV")", R"("TC0")", R"("TC0")"}),
                ElementsAre("", R"({"name":"TC0","size":16,"offset":32,"address":32,"address-space":"data",)"
                                R"("registers":[{"name":"CTRL","offset":1,"size":1,"bitfields":[{"name":"EN","mask":128}]}]})"));
    EXPECT_THAT(run("getRegisterGroup", {R"("TESTDEV")", R"("TC")", R"("TC")"}),
                ElementsAre("", R"({"name":"TC","size":16,"registers":[{"name":"CTRL","offset":1,"size":1,)"
                                R"("bitfields":[{"name":"EN","mask":128}]}]})"));
}

TEST_F(DeviceCommandServerTest, MissingObjectsAreNamed)
{
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> cases{
        // Names are taken raw: an escape is not decoded.
        {"getDeviceInfo", {R"("TEST\u0044EV")"}, R"({"Code":131106,"Format":"No device files were found for the specified device","AltOrg":"HIL"})"},
        {"getAddresspaceInfo", {R"("TESTDEV")", R"("x")"}, R"({"Code":131120,"Format":"Could not get address space x for TESTDEV"})"},
        {"getModule", {R"("TESTDEV")", R"("TC0")"}, R"({"Code":131120,"Format":"Could not get Module TC0 for TESTDEV"})"},
        {"getModuleInstance", {R"("TESTDEV")", R"("TC")"}, R"({"Code":131120,"Format":"Could not get Module TC for TESTDEV"})"},
        {"getRegisterGroup", {R"("TESTDEV")", R"("TC")", R"("X")"}, R"({"Code":131120,"Format":"Could not get register group X for TESTDEV"})"},
        {"getPropertyGroup", {R"("TESTDEV")", R"("X")"}, R"({"Code":131120,"Format":"Could not get property group X for TESTDEV"})"},
        {"getModuleInstance", {R"("TESTDEV")", R"("TC1")"}, R"({"Code":131106,"Format":"A module instance never has more than one property group."})"},
    };
    for (const auto& [command, arguments, reply] : cases)
        EXPECT_THAT(run(command, arguments), ElementsAre(reply)) << command;
}

TEST_F(DeviceCommandServerTest, SessionsStartWithTheirKindReportWhatTheDeviceKnowsAndEndOnDevicesOnly)
{
    EXPECT_CALL(*device, startSession(_, IDeviceContext::kDebuggingSession, true, _))
        .WillOnce(Return(std::make_shared<SessionStartInfo>(SessionStartInfo{0x4BA00477, 0x1E950D, 0, 0xFF, 0})));
    EXPECT_THAT(run("startSession", {R"("dev-1")", R"("DebuggingSession")"}),
                ElementsAre("", R"({"signature":2004237,"jtagId":1268778103})"));
    EXPECT_CALL(*device, startSession(_, IDeviceContext::kProgrammingSession, true, _)).WillOnce(Return(nullptr));
    EXPECT_THAT(run("startSession", {R"("dev-1")", R"("ProgrammingSession")"}), ElementsAre("", "{}"));
    EXPECT_THAT(run("startSession", {R"("dev-1")", R"("debuggingsession")"}),
                ElementsAre(R"({"Code":3,"Service":"Device","Format":"'debuggingsession' is not a valid session type."})"));
    // Ending one reports a failure, and refuses other contexts.
    EXPECT_CALL(*device, endSession()).WillOnce(Return(false)).WillOnce(Return(true));
    EXPECT_THAT(run("endSession", {R"("dev-1")"}), ElementsAre(R"({"Code":1,"Format":"Unable to end session."})"));
    EXPECT_THAT(run("endSession", {R"("dev-1")"}), ElementsAre(""));
    EXPECT_THAT(run("endSession", {R"("tool-1")"}),
                ElementsAre(R"({"Code":3,"Service":"Device","Format":"'tool-1' is not a device context."})"));
    EXPECT_THAT(run("endSession", {R"("unknown")"}),
                ElementsAre(R"({"Code":3,"Service":"Device","Format":"'unknown' is not a device context."})"));
}

TEST_F(DeviceCommandServerTest, EraseVariantsByArgumentCount)
{
    EXPECT_CALL(*device, erase(0, true, 0u, 0));
    EXPECT_THAT(run("erase", {R"("dev-1")"}), ElementsAre(""));
    EXPECT_CALL(*device, erase(3, true, 0u, 0));
    EXPECT_THAT(run("erase", {R"("dev-1")", R"({"EraseKey":"k1","Type":3})"}), ElementsAre(""));
    EXPECT_EQ(device->properties.at("EraseKey"), "k1");
    EXPECT_CALL(*device, erase(5, false, 0x100u, 4));
    EXPECT_THAT(run("erase", {R"("dev-1")", R"({"Type":5})", "true", "false", "256", "4"}), ElementsAre(""));
    EXPECT_CALL(*device, erase(11, true, 0x200u, 1));
    EXPECT_THAT(run("erase", {R"("dev-1")", R"({"Mode":5})", "true", "true", "512", "1"}),
                ElementsAre(R"({"Code":1,"Service":"Erase","Format":"Error in parameters"})", ""));
    EXPECT_CALL(*device, erase(12, true, 0u, 0));
    EXPECT_THAT(run("erase", {R"("dev-1")", R"({"Type":0})", "false", "true", "0", "0"}), ElementsAre(""));
    for (const auto count : {3, 4, 5, 7}) {
        const std::vector<std::string> arguments(static_cast<std::size_t>(count), R"("dev-1")");
        EXPECT_THAT(run("erase", arguments), ElementsAre(R"({"Code":3})")) << count << " arguments";
    }
    EXPECT_THAT(run("erase"), IsEmpty());
    EXPECT_THAT(run("erase", {R"("dev-1")", R"({"Type":"3"})"}), ElementsAre(R"({"Code":3})"));
}

TEST_F(DeviceCommandServerTest, ContextOperationsPassTheirSelectors)
{
    EXPECT_CALL(*device, getInfo(_, 7)).WillOnce([](boost::json::value& info, int) { info = {{"Fuses", 3}}; });
    EXPECT_THAT(run("getInfo", {R"("dev-1")", "7"}), ElementsAre("", R"({"Fuses":3})"));
    EXPECT_CALL(*device, getProperty(_, 2)).WillOnce([](boost::json::value& value, int) { value = 42; });
    EXPECT_THAT(run("getProperty", {R"("dev-1")", "2"}), ElementsAre("", "42"));
    EXPECT_CALL(*device, runSpecialOperation(_, 9)).Times(2).WillRepeatedly([](Status& status, int) {
        status.setError(ErrorCode::NotFound, "not reported");
    });
    EXPECT_THAT(run("specialOperation", {R"("dev-1")", "9"}), ElementsAre(""));
    EXPECT_THAT(run("disableFeature", {R"("dev-1")", "9"}), ElementsAre(""));
    EXPECT_THAT(run("GetConfigurationFile", {"1", "2"}),
                ElementsAre(R"({"Code":3,"Service":"Device","Format":"This function is not implemented"})"));
    EXPECT_THAT(run("getRegisterGroupParameters", {"1"}), IsEmpty());
    EXPECT_THAT(run("getSupportedDevices"), ElementsAre("", "[]"));
}

TEST_F(DeviceCommandServerTest, TargetNotificationsBecomeEventsUntilTheServerIsGone)
{
    device->externalReset(true);
    device->powerState(false);
    device->targetEvent({0x01, 0x02, 0x03});
    server.reset();
    device->externalReset(false);
    EXPECT_THAT(events.lines(), ElementsAre(R"(Device contextAdded [{"ID":"dev-1"}])", R"(Device contextAdded [{"ID":"tool-1"}])",
                                            R"(Device externalReset "dev-1" true)", R"(Device powerStateChanged "dev-1" false)",
                                            R"(Device targetEvent "dev-1" "AQID")"));
}

} // namespace
} // namespace hil
