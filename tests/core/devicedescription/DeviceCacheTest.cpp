// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/devicedescription/DeviceFileReaderCache.h"
#include "platform/common/CoreException.h"
#include "tests/fakes/LogRecorder.h"
#include "tests/fakes/TempDirectory.h"

namespace hil {
namespace {

using testing::ElementsAre;

const std::string kSmallDevice = R"(<f><devices><device architecture="ORIX8"/></devices></f>)";

class DeviceCacheTest : public testing::Test {
protected:
    fakes::TempDirectory directory;
    std::string path = directory.write("D.tdesc", kSmallDevice).string();
    DeviceFileReaderCache cache{1};
    Status status;
};

TEST_F(DeviceCacheTest, NamesMatchInAnyCaseAndACachedNameIgnoresThePath)
{
    fakes::LogRecorder log(LogMask::Debug);
    const auto first = cache.parseFile(status, path, "DEMO8");
    const auto second = cache.parseFile(status, "/no/such/file.tdesc", "demo8");
    EXPECT_EQ(second, first);
    EXPECT_TRUE(cache.hasParsed("Demo8"));
    EXPECT_THAT(log.lines(), ElementsAre("DBG|OrixToolsDeviceFileReader::parseFile(DEMO8) - start processing xml file",
                                         "DBG|OrixToolsDeviceFileReader::parseFile(DEMO8) - done",
                                         "DBG|OrixToolsDeviceFileReader::parseFile(demo8) - uses cached model"));
}

TEST_F(DeviceCacheTest, SeveralFilesAreCachedUnderTheDeviceName)
{
    fakes::LogRecorder log(LogMask::Debug);
    const auto device = cache.parseFiles(status, {path, path}, "TWICE");
    EXPECT_EQ(cache.parseFiles(status, {}, "twice"), device);
    EXPECT_EQ(cache.getFromCache("TWICE"), device);
    EXPECT_EQ(log.lines().back(), "DBG|OrixToolsDeviceFileReader::parseFiles(twice) - uses cached model");
}

TEST_F(DeviceCacheTest, BlankEntriesAndFailedReadsCacheNothing)
{
    EXPECT_FALSE(cache.hasParsed(""));
    const auto bad = directory.write("bad.tdesc", "<f/>").string();
    EXPECT_THROW(cache.parseFile(status, bad, "BAD"), CoreException);
    EXPECT_FALSE(cache.hasParsed("BAD"));
    // The next request reads again, and succeeds once the file is good.
    directory.write("bad.tdesc", kSmallDevice);
    EXPECT_NE(cache.parseFile(status, bad, "BAD"), nullptr);
    EXPECT_TRUE(cache.hasParsed("bad"));
}

TEST_F(DeviceCacheTest, CopiesShareTheDevices)
{
    const auto device = cache.parseFile(status, path, "DEMO8");
    const DeviceFileReaderCache copy = cache;
    EXPECT_EQ(copy.getFromCache("DEMO8"), device);
}

} // namespace
} // namespace hil
