// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "core/devicedescription/DescriptionNumbers.h"
#include "core/devicedescription/OrixToolsDeviceFileReader.h"
#include "core/devicedescription/DeviceModelImpl.h"
#include "platform/common/CoreException.h"
#include "tests/fakes/TempDirectory.h"
#include "tests/fakes/Thrown.h"

namespace hil {
namespace {

using testing::ElementsAre;
using testing::Eq;
using testing::HasSubstr;

/// A description document: module definitions, the inside of the one device, and variants.
std::string document(const std::string& modules, const std::string& device, const std::string& variants = "")
{
    return "<file><modules>" + modules + "</modules><devices><device architecture=\"ORIX8\">" + device +
           "</device></devices><variants>" + variants + "</variants></file>";
}

std::shared_ptr<DIDevice> read(const std::string& xml)
{
    Status status;
    return OrixToolsDeviceFileReader::parseText(status, xml, "TEST");
}

/// The message of the read error `xml` causes.
std::string readError(const std::string& xml)
{
    const auto error = fakes::thrown<CoreException>([&] { read(xml); });
    EXPECT_EQ(error ? error->getStatus()->getErrorCode() : ErrorCode::Ok, ErrorCode::ReadFailure);
    return error ? error->what() : "(nothing thrown)";
}

template <class T>
std::vector<std::string> names(const DIList<T>& list)
{
    std::vector<std::string> found;
    for (const auto& element : list)
        found.push_back(element->getName());
    return found;
}

struct NumberCase {
    std::string text;
    std::uint64_t number;
    std::uint32_t unsigned32;
    std::int32_t signed32;
};

TEST(DescriptionNumbers, TakeTheirBaseFromThePrefixAndFitTheirWidth)
{
    using namespace description;
    const std::vector<NumberCase> cases{
        {"0x1A", 26, 26, 26},
        {"0X1a", 26, 26, 26},
        {"032", 26, 26, 26},
        {"26", 26, 26, 26},
        {"", 0, 0, 0},
        {"zz", 0, 0, 0},
        {"12abc", 12, 12, 12},
        {"09", 0, 0, 0}, // octal stops at the 9
        {"-1", 0xFFFFFFFFFFFFFFFF, 0xFFFFFFFF, -1},
        {"0x100000005", 0x100000005, 0xFFFFFFFF, 0x7FFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseNumber(c.text), c.number) << c.text;
        EXPECT_EQ(parseUnsigned32(c.text), c.unsigned32) << c.text;
        EXPECT_EQ(parseSigned32(c.text), c.signed32) << c.text;
    }
    EXPECT_EQ(parseLow32("0x100000005"), 5u);
    EXPECT_DOUBLE_EQ(parseDecimal("1.8"), 1.8);
    EXPECT_FALSE(parseFlag("0"));
    EXPECT_TRUE(parseFlag("false"));
    EXPECT_TRUE(parseFlag(""));
}

std::string hex(std::uint64_t value)
{
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

std::string flags(bool first, bool second, const char* both) { return {first ? both[0] : '-', second ? both[1] : '-'}; }

/// A definition's registers as "GROUP.REG +OFFSET SIZE xCOUNT RW ocd RW init VALUE", each followed
/// by its bitfields as "  FIELD FIRST+BITS RW VALUE=N...", after the group as "GROUP size SIZE".
std::vector<std::string> definitionLines(const DIModule& module)
{
    std::vector<std::string> lines;
    for (const auto& group : module.getRegisterGroups()) {
        lines.push_back(group->getName() + " size " + hex(group->getSize()));
        for (const auto& r : group->getRegisters()) {
            lines.push_back(group->getName() + "." + r->getName() + " +" + hex(r->getOffset()) + " " +
                            std::to_string(r->getSize()) + " x" + std::to_string(r->getCount()) + " " +
                            flags(r->isReadable(), r->isWritable(), "rw") + " ocd " +
                            flags(r->isOcdReadable(), r->isOcdWritable(), "rw") + " init " +
                            (r->hasInitialValue() ? hex(r->getInitialValue()) : "none"));
            for (const auto& f : r->getBitfields()) {
                std::string line = "  " + f->getName() + " " + std::to_string(f->getFirstBit()) + "+" +
                                   std::to_string(f->getNumBits()) + " " + flags(f->isReadable(), f->isWritable(), "rw");
                for (const auto& v : f->getValueGroup() ? f->getValueGroup()->getValues() : DIList<DIValue>{})
                    line += " " + v->getName() + "=" + std::to_string(v->getValue());
                lines.push_back(line);
            }
        }
    }
    return lines;
}

/// A placed group as "NAME @SPACE:ADDRESS of DEFINITION", its registers as "  REG @ADDRESS", then
/// its nested groups the same way, indented.
void placedLines(const DIRegisterGroup& group, const std::string& indent, std::vector<std::string>& lines)
{
    lines.push_back(indent + group.getName() + " @" + group.getAddressSpace() + ":" + hex(group.getAddress()) + " of " +
                    group.getRegisterGroupDefinitionName());
    for (const auto& r : group.getRegisters())
        lines.push_back(indent + "  " + r->getName() + " @" + hex(r->getAddress()));
    for (const auto& nested : group.getRegisterGroups())
        placedLines(*nested, indent + "  ", lines);
}

/// Each address space as "ID big|little", its segments as "  NAME TYPE START+SIZE RW x|- page
/// SECOND", their accessors as "    START+SIZE [ocd BLOCK]".
std::vector<std::string> spaceLines(const DIDevice& device)
{
    std::vector<std::string> lines;
    for (const auto& space : device.getAddressSpaces()) {
        lines.push_back(space->getId() + (space->isBigEndian() ? " big" : " little"));
        for (const auto& segment : space->getMemorySegments()) {
            lines.push_back("  " + segment->getName() + " " + segment->getType() + " " + hex(segment->getStart()) + "+" +
                            hex(segment->getSize()) + " " + flags(segment->isReadable(), segment->isWritable(), "rw") +
                            (segment->isExecutable() ? " x" : " -") + " page " + hex(segment->getSecondPageSize()));
            for (const auto& a : segment->getMemoryAccessors())
                lines.push_back("    " + hex(a->getStart()) + "+" + hex(a->getSize()) +
                                (a->hasOcdBlockMarker() ? " ocd " + hex(a->getOcdBlockStart()) : ""));
        }
    }
    return lines;
}

const std::string kTimerModule = R"(
<module name="TC" id="T-1" version="2">
  <value-group name="CS"><value name="OFF" value="0"/></value-group>
  <value-group name="CS"><value name="STOP" value="0"/><value name="DIV8" value="0x2"/></value-group>
  <register-group name="TC" size="0x10">
    <register name="CTRL" offset="0x0" size="1" rw="RW" initval="0x5">
      <bitfield name="CS" mask="0x07" rw="RW" values="CS"/>
      <bitfield name="EN" mask="0x80" rw="R" values="NONE"/>
    </register>
    <register name="DATA" offset="0x10" size="1" count="2" rw="R"/>
    <register name="GONE" offset="0x20" size="1" count="0"/>
    <register name="STAT" offset="4" size="0x100000002" rw="rw" ocd-rw="R"/>
    <register-group name="CH" name-in-module="TC_CH" offset="0x8" count="2"/>
  </register-group>
  <register-group name="TC_CH" size="4">
    <register name="CCR" offset="2" size="2" rw="W"/>
  </register-group>
</module>)";

const std::string kTimerInstance = R"(
<address-spaces><address-space id="data" size="0x1000"/></address-spaces>
<peripherals>
  <module name="TC" id="T-1" version="2">
    <instance name="TC0">
      <register-group name="TCX" name-in-module="TC" address-space="data" offset="0x100" count="3"/>
      <parameters><param name="CHANNELS" value="2"/></parameters>
    </instance>
  </module>
</peripherals>)";

// Definitions replicate by count, take the last value group of a name and keep their access;
// instances replicate by count and their addresses add up through nested groups.
TEST(DeviceReader, DefinitionsAndInstancesReplicateByCountAndAddressesAddUpThroughNestedGroups)
{
    const auto device = read(document(kTimerModule, kTimerInstance));
    // A count of 0 leaves the register out; the size keeps its low 32 bits; every group inside a
    // module is a definition, the nested reference "CH" too (not replicated, without registers).
    EXPECT_THAT(definitionLines(*device->getModuleDefinition("TC")),
                ElementsAre("TC size 0x10", "TC.CTRL +0x0 1 x1 rw ocd rw init 0x5", "  CS 0+3 rw STOP=0 DIV8=2",
                            "  EN 7+1 r-", "TC.DATA0 +0x10 1 x2 r- ocd rw init none", "TC.DATA1 +0x11 1 x2 r- ocd rw init none",
                            "TC.STAT +0x4 2 x1 -- ocd r- init none", "CH size 0x0", "TC_CH size 0x4",
                            "TC_CH.CCR +0x2 2 x1 -w ocd rw init none"));
    const auto instance = device->getModule("TC0");
    EXPECT_EQ(instance->getId() + " " + instance->getVersion(), "T-1 2");
    EXPECT_THAT(names(instance->getRegisterGroups()), ElementsAre("TCX0", "TCX1", "TCX2"));
    EXPECT_EQ(instance->getPropertyGroups().at(0)->getProperty("CHANNELS")->getValueAsInt(), 2);
    const auto group = instance->getRegisterGroup("TCX2");
    std::vector<std::string> lines;
    placedLines(*group, "", lines);
    // 0x100 + 0x10 * 2; a nested group at its offset 0x8 + its size 4 * its index.
    EXPECT_THAT(lines, ElementsAre("TCX2 @data:0x120 of TC", "  CTRL @0x120", "  DATA0 @0x130", "  DATA1 @0x131",
                                   "  STAT @0x124", "  CH0 @data:0x128 of TC_CH", "    CCR @0x12a",
                                   "  CH1 @data:0x12c of TC_CH", "    CCR @0x12e"));
    EXPECT_EQ(group->getRegister("NOPE"), nullptr);
    EXPECT_EQ(group->getRegisterGroup("CH1")->getRegisterGroupDefinition(),
              device->getModuleDefinition("TC")->getRegisterGroup("TC_CH"));
}

TEST(DeviceReader, SegmentsAccessorsAndEndianness)
{
    const auto device = read(document("", R"(
<address-spaces>
  <address-space id="prog" start="0" size="0x100" endianness="little">
    <memory-segment name="FLASH" start="0x0" size="0x100" type="flash" rw="R" exec="1" pagesize="0x20" wordsize="2">
      <accessor/>
      <accessor start="0x80" ocd-block-start="*0x40"/>
    </memory-segment>
    <memory-segment name="RAM" start="0x200" size="0x100" type="ram" rw="" exec="0">
      <accessor size="0x10"/>
    </memory-segment>
    <memory-segment name="FLASH" type="other"/>
  </address-space>
  <address-space id="big" endianness="big"/>
  <address-space id="shout" endianness="BIG"/>
  <address-space id="none"/>
</address-spaces>)"));
    EXPECT_THAT(spaceLines(*device),
                ElementsAre("prog little", "  FLASH flash 0x0+0x100 r- x page 0x20", "    0x0+0x80", "    0x80+0x80 ocd 0x40",
                            "  RAM ram 0x200+0x100 -- - page 0x0", "    0x200+0x10", "  FLASH other 0x0+0x0 -- x page 0x0",
                            "big big", "shout little", "none little"));
    // A segment that does not say "exec" is executable, as parseFlag reads an empty flag.
    const auto prog = device->getAddressSpace("prog");
    EXPECT_EQ(prog->getMemorySegment("FLASH")->getType(), "flash") << "the first of two equal names";
    EXPECT_THAT(names(prog->getMemorySegmentsByType("flash")), ElementsAre("FLASH"));
}

TEST(DeviceReader, DevicePartsAndOnlyTheFirstDevice)
{
    const auto device = read("<f><devices><device series=\"s1\"><interfaces><interface name=\"SWD\" type=\"swd\"/>"
                             "</interfaces><property-groups><property-group name=\"SIG\"><property name=\"A\" "
                             "value=\"0x10\"/><property name=\"F\" value=\"false\"/><property name=\"Z\" value=\"0\"/>"
                             "</property-group></property-groups><parameters><param name=\"P\" value=\"7\"/></parameters>"
                             "</device><device series=\"s2\"/></devices><variants><variant ordercode=\"X-1\" "
                             "vccmin=\"1.8\" vccmax=\"5.5\"/></variants></f>");
    EXPECT_EQ(device->getName(), "TEST");
    EXPECT_EQ(device->getSeries(), "s1");
    EXPECT_EQ(device->getArchitecture(), "");
    EXPECT_EQ(device->getInterface("SWD")->getType(), "swd");
    const auto group = device->getPropertyGroup("SIG");
    EXPECT_EQ(group->getProperty("A")->getValueAsUnsigned(), 16u);
    EXPECT_TRUE(group->getProperty("F")->getValueAsBool());
    EXPECT_FALSE(group->getProperty("Z")->getValueAsBool());
    EXPECT_EQ(device->getParameters()->getProperty("P")->getValueAsUnsigned64(), 7u);
    EXPECT_EQ(device->getParameters()->getName(), "");
    EXPECT_DOUBLE_EQ(device->getVariants().at(0)->getVccMax(), 5.5);
    EXPECT_TRUE(device->getEmptyList().empty());
}

TEST(DeviceModel, MisuseNamesTheOperationAndTheObject)
{
    const auto device = read(document(kTimerModule, kTimerInstance));
    const auto definition = [](const DIDevice& d) { return d.getModuleDefinition("TC")->getRegisterGroup("TC"); };
    const std::vector<std::tuple<std::string, std::function<void(const DIDevice&)>, std::string>> cases{
        {"definition name", [&](const DIDevice& d) { definition(d)->getRegisterGroupDefinitionName(); },
         "Invalid call to getRegisterGroupDefinitionName in TC"},
        {"definition address", [&](const DIDevice& d) { definition(d)->getAddress(); }, "Invalid call to getAddress in TC"},
        {"definition space", [&](const DIDevice& d) { definition(d)->getAddressSpace(); },
         "Invalid call to getAddressSpace in TC"},
        {"register address", [&](const DIDevice& d) { definition(d)->getRegister("CTRL")->getAddress(); },
         "Invalid call to getAddress in CTRL"},
        {"module of a definition", [](const DIDevice& d) { d.getModuleDefinition("TC")->getModuleDefinition(); },
         "Invalid call to getModuleDefinition in TC"},
    };
    for (const auto& [name, call, text] : cases) {
        const auto error = fakes::thrown<CoreException>([&] { call(*device); });
        ASSERT_TRUE(error) << name << " did not fail";
        EXPECT_EQ(std::string(error->what()), text) << name;
        EXPECT_EQ(error->getStatus()->getErrorCode(), ErrorCode::ModelMisuse) << name;
        EXPECT_EQ(error->getStatus()->getComponent(), "xml") << name;
    }
    Bitfield empty;
    empty.name = "NONE";
    EXPECT_THROW(empty.getFirstBit(), CoreException);
    EXPECT_THROW(empty.getNumBits(), CoreException);
}

std::string repeated(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

/// A document whose module M holds `groups`.
std::string moduleM(const std::string& groups) { return document("<module name=\"M\">" + groups + "</module>", ""); }

TEST(DeviceReader, LinkingFailuresAndBadOrHostileDocumentsAreReadErrors)
{
    const std::string failed = "Failed to parse XML string. ";
    // A count is a number, not an element: what all counts stand for is bounded too.
    const auto counted = [](const std::string& count) {
        return R"(<hil-device-file><modules><module name="M" id="M" version="1"><register-group name="G" size="0x10">)"
               R"(<register name="R" offset="0x0" size="1" rw="RW" count=")" + count + R"("/><register name="S" offset="0x1" )"
               R"(size="1" rw="RW" count=")" + count + R"("/></register-group></module></modules><devices><device )"
               R"(architecture="X" series="S"><address-spaces/></device></devices></hil-device-file>)";
    };
    const std::vector<std::pair<std::string, testing::Matcher<const std::string&>>> cases{
        {document("", R"(<peripherals><module name="NOPE"><instance name="N0"/></module></peripherals>)"),
         Eq(failed + "Cannot find module def NOPE in N0 module")},
        {moduleM(R"(<register-group name="G"><register-group name="R" name-in-module="X"/></register-group>)"),
         Eq(failed + "Cannot find register group X in M module")},
        // A group placed inside itself, directly or through another, would never end.
        {moduleM(R"(<register-group name="A" size="8"><register-group name="INNER" name-in-module="A"/></register-group>)"),
         Eq(failed + "register group A contains itself")},
        {moduleM(R"(<register-group name="A"><register-group name="TO_B" name-in-module="B"/></register-group>)"
                 R"(<register-group name="B"><register-group name="TO_A" name-in-module="A"/></register-group>)"),
         Eq(failed + "register group A contains itself")},
        {"<f><modules/></f>", HasSubstr("no \"devices\" element with a \"device\"")},
        {"<f><devices/></f>", HasSubstr("no \"devices\" element with a \"device\"")},
        {"this is not XML", HasSubstr(failed)},
        {"<f><devices><device></devices></f>", HasSubstr(failed)},
        {R"(<?xml version="1.0"?><!DOCTYPE f [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;">]>)"
         R"(<f><devices><device series="&b;"/></devices></f>)",
         HasSubstr("a DOCTYPE with an internal subset (entity declarations) is not accepted")},
        {R"(<!DOCTYPE f SYSTEM "x.dtd" [<!ENTITY a "b">]><f/>)", HasSubstr("internal subset")},
        {R"(<!DOCTYPE f SYSTEM x.dtd><f/>)", HasSubstr("not a quoted literal")},
        {R"(<!ENTITY a "b"><f/>)", HasSubstr("declarations other than a plain DOCTYPE")},
        {repeated("<a>", 100000), HasSubstr("nested more than 256 deep")},
        // Quoted '>' and "/>" inside attribute values do not hide a level.
        {repeated("<a v=\"/>\">", 300), HasSubstr("nested more than 256 deep")},
        {"<f><devices><device series=\"" + std::string(33u << 20, 'x') + "\"/></devices></f>", HasSubstr("larger than 32 MiB")},
        {counted("2000000000"), HasSubstr("stand for more than 1000000 copies (R has 2000000000)")},
        {counted("600000"), HasSubstr("(S has 600000)")},
        {"<f>" + repeated("<e/>", 1'000'001) + "</f>", HasSubstr("more than 1000000 elements")}};
    for (const auto& [xml, message] : cases)
        EXPECT_THAT(readError(xml), message) << xml.substr(0, 100);
}

TEST(DeviceReader, ADoctypeIsReadPastAndNothingItNamesIsFetched)
{
    for (const std::string doctype : {"<!DOCTYPE file>", "<!DOCTYPE PUBLIC_DEVICE>", "<!DOCTYPE SYSTEM_FILE >",
                                      R"(<!DOCTYPE file SYSTEM "file:///etc/passwd">)",
                                      R"(<!DOCTYPE file PUBLIC '-//Velmora//DTD Device 1.0//EN' "dev>ice[.dtd">)"}) {
        Status status;
        const auto device = OrixToolsDeviceFileReader::parseText(
            status, "<?xml version=\"1.0\"?>\n" + doctype + "\n" + document("", R"(<parameters><param name="P" value="1"/></parameters>)"),
            "DOC");
        ASSERT_TRUE(device) << doctype << ": " << status.getMessage();
        EXPECT_EQ(device->getParameters()->getProperty("P")->getValue(), "1") << doctype;
    }
}

TEST(DeviceReader, ALongChainOfNestedDefinitionsIsLinkedAndCheckedWithoutRecursion)
{
    // Each group holds the next: far deeper than a recursive walk could go on a thread's stack.
    constexpr int kChain = 100000;
    std::string groups;
    for (int i = 0; i < kChain; ++i) {
        groups += "<register-group name=\"G" + std::to_string(i) + "\" size=\"4\">";
        if (i + 1 < kChain)
            groups += "<register-group name=\"N\" name-in-module=\"G" + std::to_string(i + 1) + "\"/>";
        groups += "</register-group>";
    }
    Status status;
    const auto device = OrixToolsDeviceFileReader::parseText(status, document("<module name=\"M\">" + groups + "</module>", ""), "LONG");
    const auto module = device->getModuleDefinition("M");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->getRegisterGroups().size(), static_cast<std::size_t>(kChain) * 2 - 1);
    EXPECT_EQ(module->getRegisterGroup("G0")->getRegisterGroup("N")->getRegisterGroupDefinition(),
              module->getRegisterGroup("G1"));
}

TEST(DeviceFiles, SeveralMergeInOrderAMissingOneIsNotRecognisedAndABadOneIsAReadError)
{
    fakes::TempDirectory directory;
    Status status;
    const auto first = directory.write("a.tdesc", document(kTimerModule, R"(<address-spaces><address-space id="data"/></address-spaces>)"
                                                                         R"(<parameters><param name="P" value="1"/></parameters>)")).string();
    const auto second = directory.write("b.tdesc", "<f><devices><device series=\"late\">" + kTimerInstance +
                                                       "</device></devices><variants><variant ordercode=\"V\"/></variants></f>").string();
    const auto device = OrixToolsDeviceFileReader::parseFiles(status, {first, second}, "MERGED");
    EXPECT_EQ(device->getName(), "MERGED");
    EXPECT_EQ(device->getArchitecture(), "ORIX8") << "kept: the second file names none";
    EXPECT_EQ(device->getSeries(), "late");
    EXPECT_EQ(device->getParameters()->getProperty("P")->getValue(), "1") << "kept: the second file has none";
    EXPECT_EQ(device->getAddressSpaces().size(), 2u);
    EXPECT_EQ(device->getModule("TC0")->getModuleDefinition(), device->getModuleDefinition("TC"))
        << "an instance uses a definition of an earlier file";
    EXPECT_TRUE(status.isOk());
    const auto again = OrixToolsDeviceFileReader::parseFiles(status, {first, second}, "MERGED");
    EXPECT_NE(again, device);
    EXPECT_EQ(again->getModule("TC0")->getRegisterGroup("TCX1")->getRegister("CTRL")->getAddress(),
              device->getModule("TC0")->getRegisterGroup("TCX1")->getRegister("CTRL")->getAddress());

    const auto missing = fakes::thrown<CoreException>(
        [&] { OrixToolsDeviceFileReader::parseFile(status, (directory.path() / "nope.tdesc").string(), "DEMO99"); });
    ASSERT_TRUE(missing);
    EXPECT_STREQ(missing->what(), "Device could not be recognized, check spelling: DEMO99");
    EXPECT_EQ(missing->getStatus()->getComponent(), "HIL");
    const auto bad = directory.write("bad.tdesc", document("", R"(<peripherals><module name="X"><instance name="I"/></module></peripherals>)"));
    EXPECT_EQ(fakes::errorText<CoreException>([&] { OrixToolsDeviceFileReader::parseFile(status, bad.string(), "BAD"); }),
              "Failed to read device description file. Cannot find module def X in I module");
}

} // namespace
} // namespace hil
