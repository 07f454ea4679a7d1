// SPDX-License-Identifier: Apache-2.0
// The installed tree and the Debian package, each run from where it was moved or unpacked, with
// no option but the port, and a bundle built against the installed tree alone.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/BackendProcess.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

/// What every installed tree holds, relative to its prefix.
const std::vector<std::string> kInstalledFiles{
    "bin/hilcore-backend",
    "bin/hilcore-cli",
    "bin/hilcore-pack",
    "lib/libhilcore.so",
    "lib/vlpackmanagerlib.so",
    "lib/hilcore/bundles/hilcore/bundle.properties",
    "lib/hilcore/bundles/simulator/libhilsimulator.so",
    "lib/hilcore/bundles/packs/bundle.properties",
    "lib/hilcore/bundles/gdbremote/libhilgdbremote.so",
    "lib/cmake/hilcore/hilcoreConfig.cmake",
    "lib/systemd/system/hilcore-backend.service",
    "include/hilcore/core/interfaces/IToolContext.h",
    "include/hilcore/platform/osp/BundleActivator.h",
    "share/hilcore/preferences.properties",
    "share/hilcore/settings.properties",
    "share/hilcore/devices/DEMO8.tdesc",
    "share/hilcore/devices/applets",
    "share/man/man1/hilcore-backend.1",
    "share/man/man1/hilcore-cli.1",
    "share/man/man1/hilcore-pack.1",
    "share/doc/hilcore/LICENSE",
};

/// Checks a tree at `prefix` as a user would use it: its files are there, its back-end starts
/// with no option but the port and finds its bundles and devices inside the tree (a device only
/// this tree has), and the tour runs against it.
void expectTreeServes(const fs::path& prefix)
{
    for (const auto& file : kInstalledFiles)
        EXPECT_TRUE(fs::exists(prefix / file)) << file;
    fs::copy_file(prefix / "share/hilcore/devices/DEMO8.tdesc", prefix / "share/hilcore/devices/MOVED8.tdesc");
    BackendProcess backend({}, prefix / "bin/hilcore-backend");
    const std::string cli = (prefix / "bin/hilcore-cli").string() + " --connect 127.0.0.1:" + std::to_string(backend.port());
    const auto device = runCommand(cli + " device MOVED8");
    EXPECT_EQ(device.exitCode, 0) << device.output;
    EXPECT_THAT(device.output, HasSubstr("MOVED8: ORIX8"));
    const auto tour = runCommand(cli + " tour");
    EXPECT_EQ(tour.exitCode, 0) << tour.output;
    EXPECT_THAT(tour.output, HasSubstr("torn down"));
    EXPECT_EQ(runCommand((prefix / "bin/hilcore-pack").string() + " --version").exitCode, 0);
}

TEST(Install, AMovedTreeRunsAndBuildsABundleOfSomeoneElse)
{
    const fakes::TempDirectory work;
    const auto installed = runCommand("cmake --install " HIL_BUILD_DIR " --prefix " + (work.path() / "first").string());
    ASSERT_EQ(installed.exitCode, 0) << installed.output;
    const auto prefix = work.path() / "moved";
    fs::rename(work.path() / "first", prefix);
    expectTreeServes(prefix);

    // A bundle built with nothing but the moved tree: its headers and find_package(hilcore).
    const auto build = work.path() / "thirdparty";
    const auto built = runCommand("cmake -S " HIL_SOURCE_DIR "/tests/data/thirdparty-bundle -B " + build.string() +
                                  " -G Ninja -DCMAKE_PREFIX_PATH=" + prefix.string() + " && cmake --build " + build.string());
    ASSERT_EQ(built.exitCode, 0) << built.output;
    const auto folder = prefix / "lib/hilcore/bundles/thirdparty";
    fs::create_directories(folder);
    fs::copy_file(build / "libthirdparty.so", folder / "libthirdparty.so");
    fs::copy_file(build / "bundle.properties", folder / "bundle.properties");
    BackendProcess backend({}, prefix / "bin/hilcore-backend");
    EXPECT_THAT(backend.log(), HasSubstr("started; devices in " + (prefix / "share/hilcore/devices").string()));
}

TEST(Install, TheDebianPackageHoldsTheTreeAndRunsUnpacked)
{
    const fakes::TempDirectory work;
    const auto packed =
        runCommand("cd " HIL_BUILD_DIR " && cpack -G DEB -B " + work.path().string() + " && ls " + work.path().string());
    ASSERT_EQ(packed.exitCode, 0) << packed.output;
    const auto deb = work.path() / ("hilcore_" HIL_VERSION "_amd64.deb");
    ASSERT_TRUE(fs::exists(deb)) << packed.output;
    const auto fields = runCommand("dpkg-deb -f " + deb.string() + " Package Depends");
    EXPECT_THAT(fields.output, HasSubstr("Package: hilcore"));
    EXPECT_THAT(fields.output, HasSubstr("libpocofoundation"));
    const auto contents = runCommand("dpkg-deb -c " + deb.string());
    for (const auto& file : kInstalledFiles)
        EXPECT_THAT(contents.output, HasSubstr("./usr/" + file)) << file;
    EXPECT_THAT(runCommand("dpkg-deb -x " + deb.string() + " " + (work.path() / "root").string()).exitCode, 0);
    expectTreeServes(work.path() / "root/usr");
}

} // namespace
} // namespace hil::e2e
