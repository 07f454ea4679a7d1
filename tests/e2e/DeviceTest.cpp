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

TEST_F(DeviceTest, SampleDeviceIsFoundByNameInAnyCase)
{
    EXPECT_THAT(client->call("Device", "getDeviceInfo", {R"("demo8")"}).values,
                ElementsAre("", R"({"name":"demo8","architecture":"ORIX8","series":"demo8",)"
                                R"("addresspaces":["prog","data","eeprom","fuses","lockbits","signatures"]})"));
    // The second question is answered from the cache, under the name first asked for.
    EXPECT_THAT(client->call("Device", "getDeviceInfo", {R"("DEMO8")"}).values.at(1), HasSubstr(R"("name":"demo8")"));
}

TEST_F(DeviceTest, RegisterGroupsOfInstancesHaveTheirAddresses)
{
    const auto reply = client->call("Device", "getRegisterGroupInstance", {R"("DEMO8")", R"("PORT")", R"("PORT1")"});
    ASSERT_EQ(reply.values.at(0), "");
    const auto group = boost::json::parse(reply.values.at(1)).as_object();
    EXPECT_EQ(group.at("address"), 0x26);
    EXPECT_EQ(group.at("address-space"), "data");
    EXPECT_EQ(group.at("registers").as_array().size(), 3u);
    EXPECT_THAT(client->call("Device", "getPropertyGroup", {R"("DEMO8")", R"("SIGNATURES")"}).values.at(1),
                HasSubstr(R"({"name":"SIGNATURE1","value":"0x95"})"));
}

TEST_F(DeviceTest, UnknownDeviceAndUnknownModuleAreClearErrors)
{
    EXPECT_THAT(client->call("Device", "getDeviceInfo", {R"("DEMO99")"}).values,
                ElementsAre(R"({"Code":131106,"Format":"No device files were found for the specified device","AltOrg":"HIL"})"));
    EXPECT_THAT(client->call("Device", "getModule", {R"("DEMO8")", R"("DMA")"}).values,
                ElementsAre(R"({"Code":131120,"Format":"Could not get Module DMA for DEMO8"})"));
}

} // namespace
} // namespace hil::e2e
