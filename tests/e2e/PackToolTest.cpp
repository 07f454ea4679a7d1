// SPDX-License-Identifier: Apache-2.0
// hilcore-pack, the pack tool for people working offline, run as a user would run it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/e2e/BackendProcess.h"
#include "tests/fakes/TempDirectory.h"
#include "tests/fakes/ZipWriter.h"

namespace hil::e2e {
namespace {

using testing::HasSubstr;

class PackToolTest : public testing::Test {
protected:
    /// Runs the tool over `folder` as its only pack folder, with a cache of this test.
    CommandRun tool(const std::string& arguments) const
    {
        return runCommand("cd '" + work.path().string() + "' && HIL_PACK_FOLDERS='" + folder.path().string() +
                          "' HIL_PACK_CACHE='" + cache.path().string() + "' " + HIL_PACK_TOOL_PATH + " " + arguments);
    }

    static std::string sample(const std::string& name) { return fakes::readFile(std::string(HIL_SVD_DIR) + "/" + name); }

    fakes::TempDirectory work;
    fakes::TempDirectory folder;
    fakes::TempDirectory cache;
};

TEST_F(PackToolTest, ImportsChecksListsAndShows)
{
    // An SVD file imports into a description file and an index entry the back-end reads.
    work.write("CMSDK_CM3.svd", sample("CMSDK_CM3.svd"));
    work.write("out/pack.index", "# mine\n[CMSDK_CM3]\nfiles = old.tdesc\n[KEEP]\nfiles = keep.tdesc\n");
    const auto imported = tool("import CMSDK_CM3.svd --out out");
    EXPECT_EQ(imported.exitCode, 0) << imported.output;
    EXPECT_EQ(imported.output, "out/CMSDK_CM3.tdesc\n");
    EXPECT_EQ(fakes::readFile(work.path() / "out/pack.index"), "# mine\n[KEEP]\nfiles = keep.tdesc\n\n"
                               "[CMSDK_CM3]\nfiles = CMSDK_CM3.tdesc\nArchitecture = CORTEX-M3\nVendor = ARM Ltd.\nCore = CORTEX-M3\n");
    const auto checked = tool("check out/CMSDK_CM3.tdesc");
    EXPECT_EQ(checked.exitCode, 0);
    EXPECT_EQ(checked.output, "out/CMSDK_CM3.tdesc: 14 peripherals, 116 registers, 0 faults\n");
    // The shipped sample is this import: a change to the writer shows here first.
    EXPECT_EQ(fakes::readFile(std::string(HIL_DEVICES_DIR) + "/CMSDK_CM3.tdesc"), fakes::readFile(work.path() / "out/CMSDK_CM3.tdesc"))
        << "run hilcore-pack import on the sample SVD again";

    // A pack archive: every device, with its memories.
    const std::string pdsc = R"(<package><vendor>Velmora</vendor><name>T</name><devices>
      <family Dfamily="VT" Dvendor="Velmora:1"><processor Dcore="Cortex-M3"/><debug svd="S/c.svd"/>
        <memory name="FLASH" access="rx" start="0x0" size="0x40000" default="1" startup="1"/>
        <device Dname="VT1"/><device Dname="VT2"><memory name="RAM" access="rwx" start="0x20000000" size="0x2000"/></device>
      </family></devices></package>)";
    fakes::writeZip(folder.path() / "Velmora.T.pack", {{"Velmora.T.pdsc", pdsc}, {"S/c.svd", sample("CMSDK_CM3.svd")}});
    const auto listed = tool("list vt");
    EXPECT_EQ(listed.exitCode, 0) << listed.output;
    EXPECT_THAT(listed.output, HasSubstr("VT1                     Cortex-M3     Velmora             " + (folder.path() / "Velmora.T.pack").string()));
    EXPECT_THAT(listed.output, HasSubstr("\nVT2 "));
    const auto shown = tool("show vt2");
    EXPECT_EQ(shown.exitCode, 0) << shown.output;
    EXPECT_THAT(shown.output, HasSubstr("VT2\n  vendor      Velmora\n  family      VT\n  core        Cortex-M3\n"));
    EXPECT_THAT(shown.output, HasSubstr("  memory      FLASH 0x0 + 0x40000 rx default startup\n"
                                        "  memory      RAM 0x20000000 + 0x2000 rwx\n"));
    EXPECT_THAT(shown.output, HasSubstr("  svd         S/c.svd\n  peripherals 14\n"));
    const auto fromPack = tool("import " + (folder.path() / "Velmora.T.pack").string() + " --out packout");
    EXPECT_EQ(fromPack.exitCode, 0) << fromPack.output;
    EXPECT_EQ(fromPack.output, "packout/VT1.tdesc\npackout/VT2.tdesc\n");
    EXPECT_EQ(tool("check packout/VT2.tdesc").exitCode, 0);
}

TEST_F(PackToolTest, ListsEachDeviceWithItsCoreInAlignedColumnsAndShowsEachOneItLists)
{
    // The core of an SVD file's <cpu> when no pack says it, as the index spells it; an unknown one as written.
    const auto svd = [](const std::string& name, const std::string& vendor, const std::string& cpu) {
        return "<device><vendor>" + vendor + "</vendor><name>" + name + "</name><cpu><name>" + cpu +
               "</name></cpu><peripherals/></device>";
    };
    folder.write("a.svd", svd("T_A", "Raspberry Pi Trading Ltd. and Friends", "CM0PLUS"));
    folder.write("b.svd", svd("T_B", "V", "CM0+"));
    folder.write("c.svd", svd("T_C", "V", "XR5"));
    folder.write("p/p.pdsc", R"(<package><vendor>V</vendor><name>P</name><devices><family Dfamily="F" Dvendor="V:1">
      <debug svd="e.svd"/><device Dname="T_E"/></family></devices></package>)");
    folder.write("p/e.svd", svd("E", "V", "CM33"));
    const auto path = [&](const std::string& file) { return (folder.path() / file).string(); };
    const std::string index = std::string(HIL_DEVICES_DIR) + "/pack.index";
    const std::vector<std::tuple<std::string, int, std::string>> cases{
        {"list t_", 0,
         "T_A                     CORTEX-M0PLUS  Raspberry Pi Trading Ltd. and Friends  " + path("a.svd") + "\n"
         "T_B                     CORTEX-M0PLUS  V                                      " + path("b.svd") + "\n"
         "T_C                     XR5            V                                      " + path("c.svd") + "\n"
         "T_E                     CORTEX-M33     V                                      " + path("p/p.pdsc") + "\n"},
        {"list 'arm ltd'", 0, "CMSDK_CM3               CORTEX-M3     ARM Ltd.            " + index + "\n"},
        {"show cmsdk_cm3", 0,
         "CMSDK_CM3\n  vendor      ARM Ltd.\n  core        CORTEX-M3\n  space       base 0x0 + 0x100000000 little\n"
         "  source      " + index + "\n  peripherals 14\n  file        " + HIL_DEVICES_DIR + "/CMSDK_CM3.tdesc\n"},
        {"show DEMO8 | sed -n 3,5p", 0, "  space       prog 0x0 + 0x8000 little\n  memory      FLASH 0x0 + 0x8000 flash in prog\n"
                                          "  memory      BOOT_SECTION 0x7000 + 0x1000 flash in prog\n"},
        {"show cmsdk", 1, "hilcore-pack: no device cmsdk; did you mean CMSDK_CM3?\n"},
        {"show T", 1, "hilcore-pack: no device T; did you mean T_A, T_B, T_C?\n"},
        {"show NOPE", 1, "hilcore-pack: no device NOPE (list shows every device)\n"},
    };
    for (const auto& [arguments, exitCode, output] : cases) {
        const auto run = tool(arguments);
        EXPECT_EQ(run.exitCode, exitCode) << arguments;
        EXPECT_EQ(run.output, output) << arguments;
    }
}

TEST_F(PackToolTest, FaultsAndWrongCommandLinesSaySoAndExitNonZero)
{
    work.write("faulty.tdesc", R"(<hil-device-file><modules><module name="M"><register-group name="G" size="8">
      <register name="R" offset="0" size="1"><bitfield name="F" mask="0x100"/></register></register-group></module></modules>
      <devices><device><address-spaces><address-space id="base" start="0" size="0x100"/></address-spaces><peripherals>
      <module name="M"><instance name="I"><register-group name="I" name-in-module="G" address-space="base" offset="0"/>
      </instance></module></peripherals></device></devices></hil-device-file>)");
    const auto check = tool("check faulty.tdesc");
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_EQ(check.output, "faulty.tdesc: I.R at 0x0: bit-field F mask 0x100 is outside its 8-bit register\n"
                            "faulty.tdesc: 1 peripherals, 1 registers, 1 fault\n");
    work.write("notapack.pack", "PK but not really");
    const auto notPack = tool("import notapack.pack");
    EXPECT_EQ(notPack.exitCode, 1);
    EXPECT_THAT(notPack.output, HasSubstr("notapack.pack: not a ZIP archive"));
    EXPECT_EQ(tool("import").exitCode, 2);
    EXPECT_EQ(tool("frobnicate").exitCode, 2);
    EXPECT_EQ(tool("--help").exitCode, 0);
}

} // namespace
} // namespace hil::e2e
