// SPDX-License-Identifier: Apache-2.0
// The "Packs" service end to end over TCP, and devices of SVD files and packs read through the
// Device service.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/json.hpp>

#include "tests/e2e/EventLog.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

std::string sampleSvd(const std::string& name) { return fakes::readFile(std::string(HIL_SVD_DIR) + "/" + name); }

class PacksTest : public testing::Test {
protected:
    void SetUp() override
    {
        packs.write("ARM_Sample.svd", sampleSvd("ARM_Sample.svd"));
        packs.write("broken/broken.pdsc", "<package>");
        backend = std::make_unique<BackendProcess>(BackendProcess::withPackFolders(directory.path(), packs.path().string()));
        client = connect(*backend);
    }

    boost::json::value value(const std::string& command, const std::vector<std::string>& arguments = {})
    {
        const auto reply = client->call("Packs", command, arguments);
        EXPECT_EQ(reply.values.at(0), "") << command;
        return boost::json::parse(reply.values.at(1));
    }

    std::vector<std::string> names(const boost::json::value& list)
    {
        std::vector<std::string> result;
        for (const auto& entry : list.as_array())
            result.emplace_back(entry.at("name").as_string());
        return result;
    }

    fakes::TempDirectory directory;
    fakes::TempDirectory packs;
    std::unique_ptr<BackendProcess> backend;
    std::unique_ptr<tcf::TcfClient> client;
};

TEST_F(PacksTest, ListsShowsAndOpensDevicesOfTheIndexAndOfThePackFolders)
{
    EXPECT_THAT(names(value("list")), ElementsAre("ARMCM3xxx", "CMSDK_CM3", "DEMO32", "DEMO8", "MPS2-AN385"));
    const auto filtered = value("list", {R"("arm")"}).as_array();
    EXPECT_THAT(names(filtered), ElementsAre("ARMCM3xxx", "CMSDK_CM3")) << "by name or vendor";
    EXPECT_EQ(std::string(filtered[0].at("source").as_string()), (packs.path() / "ARM_Sample.svd").string());

    const auto shown = value("show", {R"("armcm3XXX")"}).as_object();
    EXPECT_EQ(shown.at("name"), "ARMCM3xxx");
    EXPECT_EQ(shown.at("vendor"), "") << "the sample SVD names none";
    EXPECT_EQ(shown.at("peripherals"), 3);
    EXPECT_THAT(std::string(shown.at("file").as_string()), HasSubstr(".tdesc"));

    const auto peripherals = value("peripherals", {R"("ARMCM3xxx")"}).as_array();
    ASSERT_EQ(peripherals.size(), 3u);
    EXPECT_EQ(peripherals[1].at("name"), "TIMER1");
    EXPECT_EQ(peripherals[1].at("address"), 0x40010100);
    EXPECT_EQ(peripherals[1].at("description"), "32 Timer / Counter, counting up or down from different sources");

    const auto timer = value("registers", {R"("ARMCM3xxx")", R"("timer0")"}).as_object();
    const auto& control = timer.at("registers").as_array().at(0);
    EXPECT_EQ(control.at("name"), "CR");
    EXPECT_EQ(control.at("address"), 0x40010000);
    const auto& enable = control.at("fields").as_array().at(0);
    EXPECT_EQ(enable.at("name"), "EN");
    EXPECT_THAT(names(enable.at("values")), ElementsAre("Disable", "Enable"));

    // The Device service reads the same device from the same catalog.
    const auto info = client->call("Device", "getDeviceInfo", {R"("ARMCM3xxx")"});
    EXPECT_THAT(info.values, ElementsAre("", R"({"name":"ARMCM3xxx","architecture":"","series":"ARMCM3xxx","addresspaces":["base"]})"))
        << "the sample SVD names no CPU";

    // Errors look like every other service's; the broken file is said, not fatal.
    EXPECT_THAT(client->call("Packs", "show", {R"("NOPE")"}).values,
                ElementsAre(R"({"Code":1,"Service":"Packs","Format":"no pack knows a device NOPE"})"));
    EXPECT_THAT(client->call("Packs", "registers", {R"("ARMCM3xxx")"}).values.at(0), HasSubstr(R"("Code":3)"));
    EXPECT_THAT(client->call("Packs", "show", {"7"}).values.at(0), HasSubstr(R"("Code":3)"));
    const auto problems = value("problems").as_array();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(std::string(problems[0].at("text").as_string()), HasSubstr("broken.pdsc: not XML"));

    // A file added later is found by a rescan.
    packs.write("more/CMSDK_COPY.svd", boost::algorithm::replace_first_copy(sampleSvd("CMSDK_CM3.svd"),
                                                                            "<name>CMSDK_CM3</name>", "<name>CMSDK_COPY</name>"));
    packs.write("rp.svd", "<device><vendor>Raspberry Pi Trading Ltd. and Friends</vendor><name>RP2040X</name>"
                          "<cpu><name>CM0PLUS</name></cpu><peripherals/></device>");
    const auto rescanned = value("rescan").as_object();
    EXPECT_EQ(rescanned.at("devices"), 7);
    EXPECT_THAT(names(value("list", {R"("copy")"})), ElementsAre("CMSDK_COPY"));

    // The CLI over the same devices.
    const std::vector<std::tuple<std::string, int, std::string>> cases{
        {"devices ltd", 0,
         "CMSDK_CM3               CORTEX-M3      ARM Ltd.                               " + std::string(HIL_DEVICES_DIR) +
             "/pack.index\nCMSDK_COPY              CORTEX-M3      ARM Ltd.                               " +
             (packs.path() / "more/CMSDK_COPY.svd").string() + "\nRP2040X                 CORTEX-M0PLUS  Raspberry Pi Trading Ltd. and Friends  " +
             (packs.path() / "rp.svd").string() + "\n"},
        {"device ARMCM3xxx", 0, "ARMCM3xxx: series ARMCM3xxx\n  base        0x0 + 0x100000000 (little)\n"},
        {"device DEMO32 space eeprom", 0, "eeprom: 0x0 + 0x1000 (big)\n  EEPROM      0x0 + 0x1000, pages of 0x20\n"},
        {"device demo", 1, "error: no device demo; did you mean DEMO8, DEMO32?\n"},
        {"device CMSDK_CM33 peripherals", 1, "error: no device CMSDK_CM33; did you mean CMSDK_CM3?\n"},
    };
    for (const auto& [arguments, exitCode, output] : cases) {
        const auto run = runCommand(std::string(HIL_CLI_PATH) + " --connect 127.0.0.1:" + std::to_string(backend->port()) + " " + arguments);
        EXPECT_EQ(run.exitCode, exitCode) << arguments;
        EXPECT_EQ(run.output, output) << arguments;
    }
}

// A folder of SVD files named in the environment is read although the shipped preferences name
// other folders; the user's own preferences win over the environment.
TEST(PackFolders, TheEnvironmentWinsOverTheShippedPreferencesAndTheUsersFileOverBoth)
{
    const fakes::TempDirectory packs;
    const fakes::TempDirectory config;
    packs.write("ARM_Sample.svd", sampleSvd("ARM_Sample.svd"));
    const auto listed = [&] {
        ::setenv("HIL_PACK_FOLDERS", packs.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        const BackendProcess backend(BackendProcess::withTestBundles({}));
        const auto reply = connect(backend)->call("Packs", "list", {R"("ARMCM3")"});
        return reply.values.at(1);
    };
    EXPECT_THAT(listed(), HasSubstr(R"("name":"ARMCM3xxx")"));
    config.write("hilcore/preferences.properties", "packs.folders = " + config.path().string() + "\n");
    EXPECT_EQ(listed(), "[]");
}

} // namespace
} // namespace hil::e2e
