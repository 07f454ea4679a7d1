// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/device/DeviceService.h"
#include "platform/common/CoreException.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/FakeTools.h"
#include "tests/fakes/LogRecorder.h"
#include "tests/fakes/TempDirectory.h"
#include "tests/fakes/Thrown.h"

namespace hil {
namespace {

using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

const std::string kDevice = R"(<f><devices><device architecture="ORIX8"/></devices></f>)";

/// The error `call` throws, as code and text.
template <class Call>
std::pair<ErrorCode, std::string> failureOf(const Call& call)
{
    const auto error = fakes::thrown<CoreException>(call);
    return error ? std::make_pair(error->getStatus()->getErrorCode(), std::string(error->what()))
                 : std::make_pair(ErrorCode::Ok, std::string("no failure"));
}

class DeviceServiceTest : public testing::Test {
protected:
    DeviceServiceTest()
    {
        manager->preferences["application.dir"] = applications.path().string();
        debugger.factoryManager = manager;
    }

    std::shared_ptr<DeviceService> makeService() { return std::make_shared<DeviceService>(debugger); }

    fakes::TempDirectory applications;
    fakes::FakeDebugger debugger;
    std::shared_ptr<fakes::FakeFactoryManager> manager = std::make_shared<fakes::FakeFactoryManager>();
    Status status;
};

TEST_F(DeviceServiceTest, WithoutPackManagerTheApplicationDirectoryIsSearchedByNameInAnyCase)
{
    applications.write("packs/sub/Demo8.TDESC", kDevice);
    fakes::LogRecorder log;
    const auto service = makeService();
    EXPECT_THAT(log.lines(), Contains("HIL|Running without Pack Manager. Using fallback values where appropriate."));
    const auto device = service->getDeviceInfo(status, "demo8");
    EXPECT_EQ(device->getArchitecture(), "ORIX8");
    const auto file = (applications.path() / "packs/sub/Demo8.TDESC").string();
    EXPECT_THAT(log.lines(), Contains("HIL|Iterating \"" + file + "\""));
    EXPECT_THAT(log.lines(), Contains("HIL|Using device file " + file));

    const auto linesBefore = log.lines().size();
    EXPECT_EQ(service->getDeviceInfo(status, "DEMO8"), device) << "a second lookup comes from the cache";
    EXPECT_EQ(log.lines().size(), linesBefore) << "and searches nothing";
}

TEST_F(DeviceServiceTest, UnknownAndUnreadableDevicesFailWithTheirCodes)
{
    applications.write("BROKEN.tdesc", R"(<f><devices><device><peripherals><module name="X"><instance name="I"/>)"
                                       R"(</module></peripherals></device></devices></f>)");
    const auto service = makeService();
    EXPECT_EQ(failureOf([&] { service->getDeviceInfo(status, "NOPE"); }),
              std::make_pair(ErrorCode::NotFound, std::string("No device files were found for the specified device")));
    fakes::LogRecorder log(LogMask::Error);
    EXPECT_EQ(failureOf([&] { service->getDeviceInfo(status, "broken"); }),
              std::make_pair(ErrorCode::UnknownDeviceError, std::string("Unknown error when resolving device 'broken'")));
    // The reply hides the cause; the log keeps it.
    EXPECT_THAT(log.lines(), ElementsAre("HIL|Reading " + (applications.path() / "BROKEN.tdesc").string() +
                                         " for device 'broken' failed: Failed to read device description file. "
                                         "Cannot find module def X in I module"));
    applications.write("BROKEN.tdesc", kDevice);
    EXPECT_NE(service->getDeviceInfo(status, "broken"), nullptr) << "a failed read cached nothing";
}

TEST_F(DeviceServiceTest, WithoutFactoryManagerNothingIsFoundAndPropertiesAreEmpty)
{
    debugger.factoryManager = nullptr;
    applications.write("DEMO8.tdesc", kDevice);
    const auto service = makeService();
    EXPECT_EQ(failureOf([&] { service->getDeviceInfo(status, "DEMO8"); }).first, ErrorCode::NotFound);
    EXPECT_EQ(service->getDeviceProperty("DEMO8", "Signature", false), "");
    EXPECT_EQ(service->getDeviceProperty("DEMO8", "Signature", true), "");
    EXPECT_THAT(service->getSupportedDevices(), IsEmpty());
}

class DeviceAppletsTest : public DeviceServiceTest {
protected:
    DeviceAppletsTest() { debugger.settings[DeviceService::kAppletPathSetting] = applets.path().string(); }

    std::vector<std::string> appletNames(const std::string& device)
    {
        std::vector<std::string> names;
        const auto found = makeService()->getDeviceApplets(device);
        if (found.count("Floka"))
            for (const auto& applet : found.at("Floka"))
                names.push_back(applet.at("name"));
        return names;
    }

    fakes::TempDirectory applets;
};

TEST_F(DeviceAppletsTest, FolderMatchesByItsFamilyAndFilesByTheirSecondPiece)
{
    applets.write("kq77abc-x_2/applet-flash-x.bin", "");
    applets.write("kq77abc-x_2/applet-lowlevelinit-x.bin", "");
    applets.write("kq77abc-x_2/plain.bin", "");
    applets.write("kq77abc-x_2/applet-eeprom.txt", "");
    EXPECT_THAT(appletNames("XABCY"), ElementsAre("flash"));
    EXPECT_THAT(makeService()->getDeviceApplets("DEMO8"), IsEmpty()) << "no folder for this device";
    const auto found = makeService()->getDeviceApplets("abc");
    EXPECT_EQ(found.at("Floka").at(0).at("path"), (applets.path() / "kq77abc-x_2/applet-flash-x.bin").string());
}

TEST_F(DeviceAppletsTest, FolderNamedOnlyTheMarkerMatchesEveryDeviceAndAnEmptyFolderGivesAnEmptyList)
{
    applets.write("kq77/readme.txt", "");
    const auto found = makeService()->getDeviceApplets("DEMO8");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_THAT(found.at("Floka"), IsEmpty());
}

TEST_F(DeviceAppletsTest, MissingRootGivesNoApplets)
{
    debugger.settings[DeviceService::kAppletPathSetting] = (applets.path() / "absent").string();
    EXPECT_THAT(makeService()->getDeviceApplets("DEMO8"), IsEmpty());
}

} // namespace
} // namespace hil
