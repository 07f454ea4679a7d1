// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include <boost/algorithm/string/replace.hpp>

#include "core/devicedescription/OrixToolsDeviceFileReader.h"
#include "packmanager/DescriptionView.h"
#include "packmanager/PackCatalog.h"
#include "packmanager/SimplePackService.h"
#include "packmanager/SvdReader.h"
#include "tests/fakes/TempDirectory.h"
#include "tests/fakes/Thrown.h"
#include "tests/fakes/ZipWriter.h"

namespace hil::packs {
namespace {

namespace fs = std::filesystem;
using testing::AllOf;
using testing::Contains;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

/// A device "VM32" with a cluster, a dim list, a derived peripheral and an enumeration.
const std::string kVm32Svd = R"(<device><name>VM32</name><vendor>Velmora</vendor><cpu><name>CM4</name><endian>little</endian></cpu>
<peripherals>
 <peripheral><name>TIM0</name><description>Timer 0</description><baseAddress>0x40000000</baseAddress>
  <addressBlock><offset>0</offset><size>0x400</size><usage>registers</usage></addressBlock>
  <registers>
   <register><name>CTRL</name><description>Control</description><addressOffset>0</addressOffset>
    <fields><field><name>MODE</name><bitRange>[2:1]</bitRange><enumeratedValues>
     <enumeratedValue><name>ONESHOT</name><value>1</value></enumeratedValue>
     <enumeratedValue><name>PERIODIC</name><value>2</value></enumeratedValue></enumeratedValues></field></fields></register>
   <cluster><name>CH%s</name><dim>2</dim><dimIncrement>0x10</dimIncrement><addressOffset>0x100</addressOffset>
    <register><name>CC</name><addressOffset>4</addressOffset><size>16</size></register></cluster>
  </registers></peripheral>
 <peripheral derivedFrom="TIM0"><name>TIM1</name><baseAddress>0x40001000</baseAddress></peripheral>
</peripherals></device>)";

const std::string kPdsc = R"(<package schemaVersion="1.4"><vendor>Velmora</vendor><name>VM_DFP</name>
<releases><release version="1.2.0"/><release version="1.0.0"/></releases>
<devices>
 <family Dfamily="VM32" Dvendor="Velmora:999">
  <processor Dcore="Cortex-M4" Dfpu="SP_FPU" Dmpu="MPU" Dendian="Little-endian" Dclock="64000000"/>
  <memory name="FLASH" access="rx" start="0x08000000" size="0x40000" default="1" startup="1"/>
  <memory name="SRAM" access="rwx" start="0x20000000" size="0x8000" default="1"/>
  <debug svd="SVD\VM32.svd"/>
  <subFamily DsubFamily="VM32F4">
   <processor Dclock="84000000"/>
   <device Dname="VM32F401"><memory name="SRAM" access="rwx" start="0x20000000" size="0x10000"/></device>
   <device Dname="VM32F405">
    <variant Dvariant="VM32F405-LQFP"/>
    <variant Dvariant="VM32F405-BGA"><memory id="IROM2" start="0x08100000" size="0x1000"/></variant>
   </device>
  </subFamily>
  <device Dname="VM32L0"><processor Dcore="Cortex-M0+" Dfpu="NO_FPU"/><debug svd="SVD/missing.svd"/></device>
 </family>
</devices></package>)";

TEST(PdscReader, EveryDeviceInheritsFromTheLevelsAroundIt)
{
    const auto pack = PdscReader::read(kPdsc, "x.pdsc");
    EXPECT_EQ(pack.vendor, "Velmora");
    EXPECT_EQ(pack.version, "1.2.0");
    std::vector<std::string> lines;
    for (const auto& d : pack.devices) {
        std::string line = d.name + " " + d.vendor + " " + d.family + "/" + d.subFamily + " " + d.core + " " + d.fpu + " " +
                           d.clock + " " + d.svd;
        for (const auto& m : d.memories)
            line += " " + m.name + ":" + m.access + ":" + std::to_string(m.size) + (m.isFlash() ? ":flash" : "");
        lines.push_back(line);
    }
    EXPECT_THAT(lines, ElementsAre("VM32F401 Velmora VM32/VM32F4 Cortex-M4 SP_FPU 84000000 SVD\\VM32.svd FLASH:rx:262144:flash SRAM:rwx:65536",
                                   "VM32F405-LQFP Velmora VM32/VM32F4 Cortex-M4 SP_FPU 84000000 SVD\\VM32.svd FLASH:rx:262144:flash SRAM:rwx:32768",
                                   "VM32F405-BGA Velmora VM32/VM32F4 Cortex-M4 SP_FPU 84000000 SVD\\VM32.svd FLASH:rx:262144:flash SRAM:rwx:32768 IROM2:rx:4096:flash",
                                   "VM32L0 Velmora VM32/ Cortex-M0+ NO_FPU 64000000 SVD/missing.svd FLASH:rx:262144:flash SRAM:rwx:32768"));
}

TEST(PdscReader, FaultsNameTheFile)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"<package><devices><family>", "bad.pdsc: not XML"},
        {"<device/>", "bad.pdsc: its root element is not <package>"},
        {"<package><devices><family><device/></family></devices></package>", "bad.pdsc: a <device> has no Dname"},
        {"<package><devices><family><device Dname=\"D\"><memory name=\"M\" start=\"x\" size=\"1\"/></device></family></devices></package>",
         "bad.pdsc: memory M: \"x\" is not a number"}};
    for (const auto& [text, expected] : cases)
        EXPECT_THAT(fakes::errorText<PackSourceError>([&] { PdscReader::read(text, "bad.pdsc"); }), HasSubstr(expected));
}

class PackCatalogTest : public testing::Test {
protected:
    void SetUp() override
    {
        packs.write("loose/ARM_Sample.svd", fakes::readFile(HIL_SVD_DIR "/ARM_Sample.svd"));
        packs.write("Velmora/VM_DFP/1.2.0/Velmora.VM_DFP.pdsc", kPdsc);
        packs.write("Velmora/VM_DFP/1.2.0/SVD/VM32.svd", kVm32Svd);
        std::string otherPdsc = kPdsc;
        for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
                 {"VM32F401", "OTHER1"}, {"VM32F405", "OTHER5"}, {"VM32L0", "OTHER0"}, {"SVD\\VM32.svd", "SVD/O.svd"}})
            boost::algorithm::replace_all(otherPdsc, from, to);
        fakes::writeZip(packs.path() / "archives/Velmora.Other.pack", {{"Velmora.Other.pdsc", otherPdsc}, {"SVD/O.svd", kVm32Svd}});
        fakes::writeZip(packs.path() / "bad/empty.pack", {{"docs/readme.txt", "no pack"}});
        packs.write("bad/random.pack", "this is not a zip archive at all");
        packs.write("bad/broken/broken.pdsc", "<package><devices>");
        second.write("ARM_Sample_copy.svd", fakes::readFile(HIL_SVD_DIR "/ARM_Sample.svd"));
    }

    std::vector<std::string> folders() const { return {packs.path().string(), second.path().string()}; }

    std::vector<std::string> names(const std::vector<CatalogDevice>& devices) const
    {
        std::vector<std::string> list;
        for (const auto& device : devices)
            list.push_back(device.name);
        return list;
    }

    std::vector<std::string> problemTexts(const PackCatalog& catalog) const
    {
        std::vector<std::string> texts;
        for (const auto& problem : catalog.problems())
            texts.push_back(problem.text);
        return texts;
    }

    fakes::TempDirectory packs;
    fakes::TempDirectory second;
    fakes::TempDirectory cache;
    Status status;
};

TEST_F(PackCatalogTest, FindsLooseFilesUnzippedPacksAndArchivesAndSaysWhatItCannotUse)
{
    PackCatalog catalog(folders(), cache.path());
    EXPECT_THAT(names(catalog.devices("")),
                ElementsAre("ARMCM3xxx", "OTHER0", "OTHER1", "OTHER5-BGA", "OTHER5-LQFP", "VM32F401", "VM32F405-BGA",
                            "VM32F405-LQFP", "VM32L0"));
    EXPECT_THAT(names(catalog.devices("vm32f4")), ElementsAre("VM32F401", "VM32F405-BGA", "VM32F405-LQFP"));
    EXPECT_EQ(catalog.devices("velmora").size(), 8u) << "by vendor";
    const std::string bad = (packs.path() / "bad").string();
    EXPECT_THAT(problemTexts(catalog),
                AllOf(Contains(HasSubstr(bad + "/empty.pack: holds no .pdsc at its root")),
                      Contains(HasSubstr(bad + "/random.pack: not a ZIP archive")),
                      Contains(HasSubstr(bad + "/broken/broken.pdsc: not XML")),
                      Contains("device VM32L0: its SVD SVD/missing.svd is missing"),
                      Contains("device ARMCM3xxx is also in " + (packs.path() / "loose/ARM_Sample.svd").string() +
                               ", which is the one used")));

    // A device of an unzipped pack: memories from the pack, peripherals from its SVD.
    const auto file = catalog.descriptionFile("vm32f401");
    const auto device = OrixToolsDeviceFileReader::parseFile(status, file, "VM32F401");
    ASSERT_TRUE(device) << status.getMessage();
    EXPECT_EQ(device->getArchitecture(), "CORTEX-M4");
    const auto space = device->getAddressSpace("base");
    ASSERT_TRUE(space);
    ASSERT_EQ(space->getMemorySegments().size(), 2u);
    EXPECT_EQ(space->getMemorySegments()[0]->getType(), "flash");
    EXPECT_EQ(space->getMemorySegments()[1]->getSize(), 0x10000u);
    EXPECT_EQ(device->getModules().size(), 2u);

    // One in an archive, read from inside it; one whose SVD is missing is a clear error.
    EXPECT_TRUE(OrixToolsDeviceFileReader::parseFile(status, catalog.descriptionFile("OTHER5-BGA"), "OTHER5-BGA"));
    EXPECT_THROW(catalog.descriptionFile("VM32L0"), PackSourceError);
    EXPECT_THAT(problemTexts(catalog), Contains(HasSubstr("missing.svd: cannot be read")));
    EXPECT_THROW(catalog.descriptionFile("NOPE"), NotFoundError);
}

TEST_F(PackCatalogTest, ASecondStartReadsNothingThatDidNotChange)
{
    {
        PackCatalog first(folders(), cache.path());
        first.descriptionFile("VM32F401");
        EXPECT_EQ(first.svdReads(), 1u);
    }
    // Damage the pack description but keep its size and time: a catalog that read it would fail.
    const fs::path pdsc = packs.path() / "Velmora/VM_DFP/1.2.0/Velmora.VM_DFP.pdsc";
    const auto time = fs::last_write_time(pdsc);
    packs.write("Velmora/VM_DFP/1.2.0/Velmora.VM_DFP.pdsc", std::string(kPdsc.size(), 'x'));
    fs::last_write_time(pdsc, time);

    PackCatalog second(folders(), cache.path());
    EXPECT_EQ(second.devices("VM32F401").size(), 1u);
    second.descriptionFile("VM32F401");
    EXPECT_EQ(second.svdReads(), 0u);

    fs::last_write_time(pdsc, time + std::chrono::seconds(5));
    second.rescan();
    EXPECT_TRUE(second.devices("VM32F401").empty());
    EXPECT_THAT(problemTexts(second), Contains(HasSubstr(pdsc.string() + ": not XML")));
}

TEST_F(PackCatalogTest, ThePackServiceAnswersCatalogDevicesAfterItsIndex)
{
    packs.write("index/pack.index", "[VM32F401]\nfiles = own.tdesc\nVendor = Ours\n");
    const auto catalog = std::make_shared<PackCatalog>(folders(), cache.path());
    const SimplePackService service(packs.path() / "index", cache.path() / "assembly", catalog);
    const auto devices = service.getDevices();
    EXPECT_EQ(devices.front(), "VM32F401");
    EXPECT_EQ(std::count(devices.begin(), devices.end(), "VM32F401"), 1);
    EXPECT_EQ(service.lookupDeviceProperty("VM32F401", "Vendor"), "Ours") << "the index wins";
    const std::vector<std::pair<std::string, std::string>> properties{
        {"Vendor", "Velmora"}, {"Family", "VM32"}, {"Core", "Cortex-M4"}, {"Architecture", "CORTEX-M4"},
        {"Clock", "84000000"}, {"FlashSize", "0x41000"}, {"RamSize", "0x8000"}, {"Fpu", "SP_FPU"}, {"Unknown", ""}};
    for (const auto& [key, value] : properties)
        EXPECT_EQ(service.lookupDeviceProperty("vm32f405-bga", key), value) << key;
    EXPECT_THAT(service.getDeviceFile("VM32F405-BGA"), HasSubstr(".tdesc"));
    EXPECT_EQ(service.lookupDeviceProperty("VM32L0", "Architecture"), "CORTEX-M0PLUS") << "as the back-end spells it";
    EXPECT_EQ(service.getDeviceFile("VM32L0"), "") << "its SVD is missing";
}

TEST(DescriptionWriter, ClustersDimsAndEnumerationsReadBackThroughTheDeviceReader)
{
    fakes::TempDirectory folder;
    CatalogDevice device;
    device.name = "VM32";
    device.svd = device.source = folder.write("vm32.svd", kVm32Svd).string();
    const auto file = folder.write("vm32.tdesc", PackCatalog::describe(device).text);
    Status status;
    const auto read = OrixToolsDeviceFileReader::parseFile(status, file.string(), "VM32");
    ASSERT_TRUE(read) << status.getMessage();
    EXPECT_EQ(read->getArchitecture(), "CORTEX-M4");
    ASSERT_EQ(read->getModuleDefinitions().size(), 1u) << "TIM1 shares TIM0's layout";
    std::vector<std::string> registers;
    for (const auto& module : read->getModules())
        for (const auto& group : module->getRegisterGroups())
            for (const auto& reg : group->getRegisters()) {
                std::ostringstream line;
                line << module->getName() << "." << reg->getName() << "@" << std::hex << reg->getAddress();
                for (const auto& bitfield : reg->getBitfields())
                    line << " " << bitfield->getName() << "=" << bitfield->getMask()
                         << (bitfield->getValueGroup() ? "+values" : "");
                registers.push_back(line.str());
            }
    EXPECT_THAT(registers, ElementsAre("TIM0.CTRL@40000000 MODE=6+values", "TIM1.CTRL@40001000 MODE=6+values"));

    // The peripheral view places the clusters' registers too.
    std::vector<std::string> faults;
    const auto view = DescriptionView::read(file, &faults);
    EXPECT_TRUE(faults.empty());
    ASSERT_EQ(view.size(), 2u);
    std::vector<std::string> placed;
    for (const auto& reg : view[1].registers)
        placed.push_back(reg.name + "@" + std::to_string(reg.address - view[1].address) + "/" + std::to_string(reg.size));
    EXPECT_THAT(placed, ElementsAre("CTRL@0/4", "CH0.CC@260/2", "CH1.CC@276/2"));
    EXPECT_EQ(view[1].description, "Timer 0");
    EXPECT_EQ(view[0].registers[0].fields[0].values[1].name, "PERIODIC");
    EXPECT_THAT(fakes::readFile(file), Not(HasSubstr("<warnings>"))) << "a file read whole is written as before";
    EXPECT_THAT(DescriptionView::readWarnings(file), IsEmpty());
}

TEST(DescriptionWriter, WhatTheSvdLeftOutTravelsToImportCheckAndShow)
{
    fakes::TempDirectory folder;
    const auto svd = folder.write("odd.svd", R"(<device><name>ODD</name><cpu><name>CM4</name></cpu><peripherals>
      <peripheral><name>P</name><baseAddress>0x40000000</baseAddress><registers>
        <register><name>BIT</name><addressOffset>0</addressOffset><size>1</size>
          <fields><field><name>ON</name><bitOffset>0</bitOffset></field></fields></register>
        <register><name>R</name><addressOffset>4</addressOffset><fields>
          <field><name>F</name><bitRange>[36:26]</bitRange></field>
          <field><name>M</name><bitOffset>0</bitOffset><enumeratedValues derivedFrom="a.b"/></field></fields></register>
      </registers></peripheral></peripherals></device>)");
    const std::vector<std::string> warnings{
        svd.string() + ": P.R.M: derivedFrom \"a.b\" names no enumeratedValues; read without it",
        svd.string() + ": P.R.F: bits [36:26] are outside its 32-bit register; kept as [31:26]"};

    // hilcore-pack import: what it writes and what it says.
    CatalogDevice device;
    device.name = "ODD";
    device.svd = device.source = svd.string();
    const auto description = PackCatalog::describe(device);
    EXPECT_THAT(description.warnings, ElementsAreArray(warnings));

    // hilcore-pack check and the Packs service: read back from the file, quotes and all.
    const auto file = folder.write("odd.tdesc", description.text);
    EXPECT_THAT(DescriptionView::readWarnings(file), ElementsAreArray(warnings));
    std::vector<std::string> faults;
    const auto view = DescriptionView::read(file, &faults);
    EXPECT_THAT(faults, IsEmpty());
    ASSERT_EQ(view.size(), 1u);
    ASSERT_EQ(view[0].registers.size(), 2u);
    EXPECT_EQ(view[0].registers[0].size, 1u) << "a 1-bit register is read as a byte";
    EXPECT_EQ(view[0].registers[1].fields[0].mask, 0xFC000000u);
    Status status;
    EXPECT_TRUE(OrixToolsDeviceFileReader::parseFile(status, file.string(), "ODD")) << status.getMessage();

    // hilcore-pack show: the catalog's summary, made once and read again from its cache.
    fakes::TempDirectory cache;
    PackCatalog catalog({folder.path().string()}, cache.path());
    EXPECT_THAT(catalog.summary("ODD").warnings, ElementsAreArray(warnings));
    EXPECT_THAT(catalog.summary("odd").warnings, ElementsAreArray(warnings));
    EXPECT_EQ(catalog.svdReads(), 1u);
}

TEST(DescriptionView, CheckNamesEachFault)
{
    fakes::TempDirectory folder;
    const auto file = folder.write("faulty.tdesc", R"(<hil-device-file><modules>
  <module name="M"><value-group name="V"><value name="A" value="1"/></value-group>
    <register-group name="G" size="0x100">
      <register name="OK" offset="0" size="4"><bitfield name="F" mask="0x3" values="V"/></register>
      <register name="WIDE" offset="4" size="2"><bitfield name="F" mask="0x10000"/><bitfield name="E" mask="0"/></register>
      <register name="VALS" offset="8" size="4"><bitfield name="F" mask="1" values="NOPE"/></register>
      <register name="END" offset="0xFC" size="8"/>
      <register-group name="N" name-in-module="MISSING" offset="0x10"/>
    </register-group></module></modules>
  <devices><device><address-spaces><address-space id="base" start="0x1000" size="0x100"/></address-spaces>
    <peripherals>
      <module name="M"><instance name="I"><register-group name="I" name-in-module="G" address-space="base" offset="0x1000"/></instance>
        <instance name="J"><register-group name="J" name-in-module="G" address-space="nowhere" offset="0"/></instance></module>
      <module name="X"><instance name="K"/></module>
    </peripherals></device></devices></hil-device-file>)");
    std::vector<std::string> faults;
    const auto view = DescriptionView::read(file, &faults);
    EXPECT_THAT(faults, ElementsAre("I.WIDE at 0x1004: bit-field F mask 0x10000 is outside its 16-bit register",
                                    "I.WIDE at 0x1004: bit-field E mask 0x0 is empty",
                                    "I.VALS at 0x1008: bit-field F names values \"NOPE\", which the module does not define",
                                    "I.END at 0x10FC: outside its address space base (0x1000 + 0x100)",
                                    "I: register group N names \"MISSING\", which the module does not define",
                                    "J: address space \"nowhere\" is not defined",
                                    "instance K: module X is not defined"));
    ASSERT_EQ(view.size(), 1u);
    EXPECT_EQ(view[0].registers.size(), 3u) << "the register outside its space is left out";
    EXPECT_THROW(DescriptionView::read(folder.write("x.tdesc", "<device/>")), PackSourceError);
}

} // namespace
} // namespace hil::packs
