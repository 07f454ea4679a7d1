// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "packmanager/SvdReader.h"
#include "tests/fakes/TempDirectory.h"
#include "tests/fakes/Thrown.h"

namespace hil::packs {
namespace {

using testing::ElementsAreArray;
using testing::HasSubstr;

/// A whole SVD file around `peripherals`; `defaults` are the device's register properties.
std::string svd(const std::string& peripherals, const std::string& defaults = "")
{
    return "<?xml version=\"1.0\"?><device><name>T</name><cpu><name>CM4</name><endian>little</endian></cpu>" +
           defaults + "<peripherals>" + peripherals + "</peripherals></device>";
}

/// A peripheral P at 0x40000000 with `registers`; `extra` goes before them.
std::string peripheral(const std::string& registers, const std::string& extra = "", const std::string& name = "P")
{
    return "<peripheral><name>" + name + "</name><baseAddress>0x40000000</baseAddress>" + extra + "<registers>" +
           registers + "</registers></peripheral>";
}

std::string reg(const std::string& name, const std::string& offset, const std::string& inner = "")
{
    return "<register><name>" + name + "</name><addressOffset>" + offset + "</addressOffset>" + inner + "</register>";
}

std::string hex(std::uint64_t value)
{
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

const char* accessName(SvdAccess access)
{
    static const char* const kNames[] = {"read-only", "write-only", "read-write", "writeOnce", "read-writeOnce"};
    return kNames[static_cast<int>(access)];
}

void flatten(const SvdRegisterBlock& block, const std::string& prefix, std::uint64_t base, std::vector<std::string>& lines)
{
    for (const auto& r : block.registers) {
        std::string line = prefix + r.name + " +" + hex(base + r.offset) + " " + std::to_string(r.sizeBits) + " " +
                           accessName(r.access) + " " + hex(r.resetValue);
        for (const auto& f : r.fields) {
            line += " " + f.name + "[" + std::to_string(f.lsb + f.width - 1) + ":" + std::to_string(f.lsb) + "]" +
                    accessName(f.access);
            for (const auto& v : f.values)
                line += " " + v.name + "=" + std::to_string(v.value);
        }
        lines.push_back(line);
    }
    for (const auto& cluster : block.clusters)
        flatten(cluster.block, prefix + cluster.name + ".", base + cluster.offset, lines);
}

/// Each peripheral as "NAME @BASE layout LAYOUT", then each register as
/// "PERIPHERAL.[CLUSTER.]NAME +OFFSET BITS ACCESS RESET FIELD[MSB:LSB]ACCESS VALUE=N...", with the
/// offset from the peripheral's base.
std::vector<std::string> flatten(const SvdDevice& device)
{
    std::vector<std::string> lines;
    for (const auto& p : device.peripherals) {
        lines.push_back(p.name + " @" + hex(p.baseAddress) + " layout " + p.layoutName);
        flatten(p.block, p.name + ".", 0, lines);
    }
    return lines;
}

/// A file, what is read of it, and what is said of what it left out or cut (none for a file that
/// keeps the rules).
struct ReadCase {
    const char* name;
    std::string text;
    std::vector<std::string> expected;
    std::vector<std::string> warnings = {};
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class SvdRules : public testing::TestWithParam<ReadCase> {};

TEST_P(SvdRules, ResolveAsTheFormatSaysAndKeepTheRestOfADeviceAroundWhatTheyLeaveOut)
{
    const auto device = SvdReader::readText(GetParam().text, "test.svd");
    EXPECT_THAT(flatten(device), ElementsAreArray(GetParam().expected));
    EXPECT_THAT(device.warnings, ElementsAreArray(GetParam().warnings));
}

/// A register R with `fields`.
std::string fields(const std::string& fields, const std::string& extra = "")
{
    return reg("R", "0", extra + "<fields>" + fields + "</fields>");
}

std::string field(const std::string& name, const std::string& inner)
{
    return "<field><name>" + name + "</name>" + inner + "</field>";
}

std::string value(const std::string& name, const std::string& number)
{
    return "<enumeratedValue><name>" + name + "</name><value>" + number + "</value></enumeratedValue>";
}

const std::string kEnumerated = "<fields>" + field("M", "<bitOffset>0</bitOffset><bitWidth>3</bitWidth><enumeratedValues><usage>write</usage>" +
                                                        value("W", "1") + "</enumeratedValues><enumeratedValues><usage>read</usage>" +
                                                        value("BIN", "#101") + value("HEX", "0x2") + value("ANY", "#0x1") +
                                                        "<enumeratedValue><name>REST</name><isDefault>true</isDefault></enumeratedValue>"
                                                        "</enumeratedValues>") + "</fields>";

const std::string kField4to7 = "<fields><field><name>F</name><bitOffset>4</bitOffset><bitWidth>4</bitWidth></field></fields>";

INSTANTIATE_TEST_SUITE_P(
    Resolution, SvdRules,
    testing::Values(
        ReadCase{"FieldByOffsetAndWidth", svd(peripheral(reg("R", "0", kField4to7))),
                 {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0 F[7:4]read-write"}},
        ReadCase{"FieldByLsbAndMsb", svd(peripheral(reg("R", "0", "<fields><field><name>F</name><lsb>4</lsb><msb>7</msb></field></fields>"))),
                 {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0 F[7:4]read-write"}},
        ReadCase{"FieldByBitRange", svd(peripheral(reg("R", "0", "<fields><field><name>F</name><bitRange>[7:4]</bitRange></field></fields>"))),
                 {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0 F[7:4]read-write"}},
        ReadCase{"FieldByOffsetAloneIsOneBit", svd(peripheral(reg("R", "0", "<fields><field><name>F</name><bitOffset>31</bitOffset></field></fields>"))),
                 {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0 F[31:31]read-write"}},
        ReadCase{"PropertiesInheritFromTheDeviceDownToFields",
                 svd(peripheral(reg("R", "0x2", kField4to7)), "<size>16</size><access>read-only</access><resetValue>0xFF</resetValue>"),
                 {"P @0x40000000 layout P", "P.R +0x2 16 read-only 0xff F[7:4]read-only"}},
        ReadCase{"EachLevelOfPropertiesOverridesTheOneAbove",
                 svd(peripheral("<cluster><name>C</name><addressOffset>0x10</addressOffset><resetValue>7</resetValue>" +
                                    reg("R", "0", "<access>write-only</access><fields><field><name>F</name><bitOffset>0</bitOffset>"
                                                  "<access>read-write</access></field></fields>") +
                                    "</cluster>" + reg("S", "0", ""),
                                "<size>8</size>"),
                     "<size>16</size><access>read-only</access>"),
                 {"P @0x40000000 layout P", "P.S +0x0 8 read-only 0x0", "P.C.R +0x10 8 write-only 0x7 F[0:0]read-write"}},
        ReadCase{"AccessValues",
                 svd(peripheral(reg("A", "0", "<access>read-only</access>") + reg("B", "4", "<access>write-only</access>") +
                                reg("C", "8", "<access>read-write</access>") + reg("D", "12", "<access>writeOnce</access>") +
                                reg("E", "16", "<access>read-writeOnce</access>"))),
                 {"P @0x40000000 layout P", "P.A +0x0 32 read-only 0x0", "P.B +0x4 32 write-only 0x0",
                  "P.C +0x8 32 read-write 0x0", "P.D +0xc 32 writeOnce 0x0", "P.E +0x10 32 read-writeOnce 0x0"}},
        ReadCase{"DerivedPeripheralSharesItsBasesLayout",
                 svd(peripheral(reg("R", "4"), "", "U0") +
                     "<peripheral derivedFrom=\"U0\"><name>U1</name><baseAddress>0x40001000</baseAddress></peripheral>"),
                 {"U0 @0x40000000 layout U0", "U0.R +0x4 32 read-write 0x0", "U1 @0x40001000 layout U0",
                  "U1.R +0x4 32 read-write 0x0"}},
        ReadCase{"DerivedPeripheralWithRegistersOfItsOwnAddsAndReplaces",
                 svd(peripheral(reg("R", "4") + reg("S", "8"), "", "U0") +
                     "<peripheral derivedFrom=\"U0\"><name>U1</name><baseAddress>0x40001000</baseAddress><registers>" +
                     reg("S", "0xC") + reg("T", "0x10") + "</registers></peripheral>"),
                 {"U0 @0x40000000 layout U0", "U0.R +0x4 32 read-write 0x0", "U0.S +0x8 32 read-write 0x0",
                  "U1 @0x40001000 layout U1", "U1.R +0x4 32 read-write 0x0", "U1.S +0xc 32 read-write 0x0",
                  "U1.T +0x10 32 read-write 0x0"}},
        ReadCase{"RegisterDerivedFromASiblingAndFromADottedPath",
                 svd(peripheral(reg("CTRL", "0", "<size>16</size>" + kField4to7), "", "A") +
                     peripheral("<register derivedFrom=\"CTRL\"><name>CTRL2</name><addressOffset>8</addressOffset></register>"
                                "<register derivedFrom=\"A.CTRL\"><name>COPY</name><addressOffset>4</addressOffset></register>" +
                                    reg("CTRL", "0"),
                                "", "B")),
                 {"A @0x40000000 layout A", "A.CTRL +0x0 16 read-write 0x0 F[7:4]read-write", "B @0x40000000 layout B",
                  "B.CTRL2 +0x8 32 read-write 0x0", "B.COPY +0x4 16 read-write 0x0 F[7:4]read-write",
                  "B.CTRL +0x0 32 read-write 0x0"}},
        ReadCase{"DerivedFieldClusterAndEnumeration",
                 svd(peripheral("<cluster><name>C</name><addressOffset>0x20</addressOffset>" +
                                reg("R", "0",
                                    "<fields><field><name>EN</name><bitOffset>0</bitOffset><bitWidth>2</bitWidth>"
                                    "<enumeratedValues><name>MODES</name><enumeratedValue><name>OFF</name><value>0</value>"
                                    "</enumeratedValue><enumeratedValue><name>ON</name><value>3</value></enumeratedValue>"
                                    "</enumeratedValues></field>"
                                    "<field derivedFrom=\"EN\"><name>EN2</name><bitOffset>4</bitOffset></field>"
                                    "<field><name>X</name><bitOffset>8</bitOffset><enumeratedValues derivedFrom=\"MODES\"/></field>"
                                    "</fields>") +
                                "</cluster><cluster derivedFrom=\"C\"><name>D</name><addressOffset>0x40</addressOffset></cluster>")),
                 {"P @0x40000000 layout P", "P.C.R +0x20 32 read-write 0x0 EN[1:0]read-write OFF=0 ON=3 EN2[5:4]read-write OFF=0 ON=3 X[8:8]read-write OFF=0 ON=3",
                  "P.D.R +0x40 32 read-write 0x0 EN[1:0]read-write OFF=0 ON=3 EN2[5:4]read-write OFF=0 ON=3 X[8:8]read-write OFF=0 ON=3"}},
        ReadCase{"DimListWithNamedIndices",
                 svd(peripheral(reg("CH%s", "0x10", "<dim>3</dim><dimIncrement>4</dimIncrement><dimIndex>A,B,C</dimIndex>"))),
                 {"P @0x40000000 layout P", "P.CHA +0x10 32 read-write 0x0", "P.CHB +0x14 32 read-write 0x0",
                  "P.CHC +0x18 32 read-write 0x0"}},
        ReadCase{"DimNumberRangeLetterRangeAndNone",
                 svd(peripheral(reg("N%s", "0", "<dim>2</dim><dimIncrement>4</dimIncrement><dimIndex>5-6</dimIndex>") +
                                reg("L%s", "8", "<dim>2</dim><dimIncrement>4</dimIncrement><dimIndex>X-Y</dimIndex>") +
                                reg("DATA[%s]", "0x10", "<dim>2</dim><dimIncrement>0x8</dimIncrement>"))),
                 {"P @0x40000000 layout P", "P.N5 +0x0 32 read-write 0x0", "P.N6 +0x4 32 read-write 0x0",
                  "P.LX +0x8 32 read-write 0x0", "P.LY +0xc 32 read-write 0x0", "P.DATA[0] +0x10 32 read-write 0x0",
                  "P.DATA[1] +0x18 32 read-write 0x0"}},
        ReadCase{"DimOfPeripheralsClustersNestedClustersAndFields",
                 svd("<peripheral><name>UART%s</name><dim>2</dim><dimIncrement>0x1000</dimIncrement><baseAddress>0x40004000</baseAddress>"
                     "<registers><cluster><name>CH%s</name><dim>2</dim><dimIncrement>0x20</dimIncrement><addressOffset>0x100</addressOffset>"
                     "<cluster><name>IN</name><addressOffset>0x8</addressOffset>" +
                     reg("R", "4", "<fields><field><name>F%s</name><dim>2</dim><dimIncrement>2</dimIncrement><bitOffset>1</bitOffset></field></fields>") +
                     "</cluster></cluster></registers></peripheral>"),
                 {"UART0 @0x40004000 layout UART", "UART0.CH0.IN.R +0x10c 32 read-write 0x0 F0[1:1]read-write F1[3:3]read-write",
                  "UART0.CH1.IN.R +0x12c 32 read-write 0x0 F0[1:1]read-write F1[3:3]read-write",
                  "UART1 @0x40005000 layout UART", "UART1.CH0.IN.R +0x10c 32 read-write 0x0 F0[1:1]read-write F1[3:3]read-write",
                  "UART1.CH1.IN.R +0x12c 32 read-write 0x0 F0[1:1]read-write F1[3:3]read-write"}},
        ReadCase{"EnumeratedValuesBinaryHexDontCareAndTheReadList", svd(peripheral(reg("R", "0", kEnumerated))),
                 {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0 M[2:0]read-write BIN=5 HEX=2 ANY=1 ANY=3"}}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    LeftOutOrCut, SvdRules,
    testing::Values(
        // Each what a sample of vendors' files holds, which refused those files whole.
        ReadCase{"AccessInAnyLetterCaseAndReadOrWriteAlone",
                      svd(peripheral(reg("A", "0", "<access>read-writeonce</access>") + reg("B", "4", "<access>write</access>") +
                                     reg("C", "8", "<access>read</access>") + reg("D", "12", "<access>Read-Only</access>") +
                                     fields(field("F", "<bitOffset>0</bitOffset><access>WRITE-ONLY</access>"), "<access>WRITEONCE</access>"))),
                      {"P @0x40000000 layout P", "P.A +0x0 32 read-writeOnce 0x0", "P.B +0x4 32 write-only 0x0",
                       "P.C +0x8 32 read-only 0x0", "P.D +0xc 32 read-only 0x0", "P.R +0x0 32 writeOnce 0x0 F[0:0]write-only"}},
        ReadCase{"DontCareBitsAfter0b",
                      svd(peripheral(fields(field("M", "<bitOffset>0</bitOffset><bitWidth>4</bitWidth><enumeratedValues>" +
                                                           value("A", "0b1x") + value("B", "0b01XX") + "</enumeratedValues>")))),
                      {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0 M[3:0]read-write A=2 A=3 B=4 B=5 B=6 B=7"}},
        ReadCase{"RegisterOfOneBit",
                      svd(peripheral(fields(field("F", "<bitOffset>0</bitOffset>"), "<size>1</size>") + reg("S", "4", "<size>12</size>"))),
                      {"P @0x40000000 layout P", "P.R +0x0 1 read-write 0x0 F[0:0]read-write", "P.S +0x4 12 read-write 0x0"}},
        ReadCase{"FieldPastItsRegistersEnd",
                      svd(peripheral(fields(field("CUT", "<bitRange>[36:26]</bitRange>") + field("GONE", "<lsb>33</lsb><msb>40</msb>") +
                                            field("OK", "<bitOffset>0</bitOffset>")))),
                      {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0 CUT[31:26]read-write OK[0:0]read-write"},
                      {"test.svd: P.R.CUT: bits [36:26] are outside its 32-bit register; kept as [31:26]",
                       "test.svd: P.R.GONE: bits [40:33] are outside its 32-bit register; left out"}},
        ReadCase{"RegisterDerivedFromNothing",
                      svd(peripheral("<register derivedFrom=\"P100PFS\"><name>P101PFS</name><addressOffset>4</addressOffset></register>" +
                                     reg("OK", "0"))),
                      {"P @0x40000000 layout P", "P.P101PFS +0x4 32 read-write 0x0", "P.OK +0x0 32 read-write 0x0"},
                      {"test.svd: P.P101PFS: derivedFrom \"P100PFS\" names no register; read without it"}},
        ReadCase{"FieldAndEnumerationDerivedFromNothing",
                      svd(peripheral(fields(field("F", "<bitRange>[1:0]</bitRange><enumeratedValues derivedFrom=\"ctl.sms.MASTER_SELECT\"/>") +
                                            "<field derivedFrom=\"ctl.sms.MASTER_SELECT\"><name>G</name><bitOffset>4</bitOffset></field>"))),
                      {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0 F[1:0]read-write G[4:4]read-write"},
                      {"test.svd: P.R.F: derivedFrom \"ctl.sms.MASTER_SELECT\" names no enumeratedValues; read without it",
                       "test.svd: P.R.G: derivedFrom \"ctl.sms.MASTER_SELECT\" names no field; read without it"}},
        ReadCase{"PeripheralDerivedFromNothing",
                      svd("<peripheral derivedFrom=\"NOPE\"><name>A</name><baseAddress>0x40001000</baseAddress><registers>" +
                          reg("R", "0") + "</registers></peripheral><peripheral derivedFrom=\"NOPE\"><name>B</name></peripheral>"),
                      {"A @0x40001000 layout A", "A.R +0x0 32 read-write 0x0"},
                      {"test.svd: A: derivedFrom \"NOPE\" names no peripheral; read without it",
                       "test.svd: B: derivedFrom \"NOPE\" names no peripheral; read without it", "test.svd: B: has no baseAddress; left out"}},
        // What cannot be read is left out or cut, and said.
        ReadCase{"PeripheralCycleIsCutWhereItIsFound",
                      svd("<peripheral derivedFrom=\"B\"><name>A</name><baseAddress>0x40000000</baseAddress></peripheral>"
                          "<peripheral derivedFrom=\"A\"><name>B</name><baseAddress>0x40001000</baseAddress></peripheral>"),
                      {"A @0x40000000 layout B", "B @0x40001000 layout B"},
                      {"test.svd: B: derivedFrom \"A\" makes a chain that comes back to it; read without it"}},
        ReadCase{"RegisterCycleIsCutWhereItIsFound",
                      svd(peripheral("<register derivedFrom=\"S\"><name>R</name><addressOffset>0</addressOffset></register>"
                                     "<register derivedFrom=\"R\"><name>S</name><addressOffset>4</addressOffset><size>16</size></register>")),
                      {"P @0x40000000 layout P", "P.R +0x0 16 read-write 0x0", "P.S +0x4 16 read-write 0x0"},
                      {"test.svd: P.S: derivedFrom \"R\" makes a chain that comes back to it; read without it"}},
        ReadCase{"BaseThatIsLeftOut",
                      svd(peripheral("<register><name>R</name></register>"
                                     "<register derivedFrom=\"R\"><name>S</name><addressOffset>4</addressOffset></register>")),
                      {"P @0x40000000 layout P", "P.S +0x4 32 read-write 0x0"},
                      {"test.svd: P.R: has no addressOffset; left out",
                       "test.svd: P.S: derivedFrom \"R\" names a register that is left out; read without it"}},
        ReadCase{"UnknownAccessKeepsTheOneAroundIt",
                      svd(peripheral(fields(field("F", "<bitOffset>0</bitOffset><access>rw</access>"), "<access>read/write</access>")),
                          "<access>read-only</access>"),
                      {"P @0x40000000 layout P", "P.R +0x0 32 read-only 0x0 F[0:0]read-only"},
                      {"test.svd: P.R: \"read/write\" is not an access; ignored", "test.svd: P.R.F: \"rw\" is not an access; ignored"}},
        ReadCase{"FieldsWithoutAPosition",
                      svd(peripheral(fields(field("F", "") + field("G", "<bitRange>7:4</bitRange>") + field("H", "<lsb>4</lsb><msb>3</msb>") +
                                            field("OK", "<bitOffset>0</bitOffset>")))),
                      {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0 OK[0:0]read-write"},
                      {"test.svd: P.R.F: has no bitOffset, lsb and msb, or bitRange; left out",
                       "test.svd: P.R.G: bitRange \"7:4\" is not [msb:lsb]; left out", "test.svd: P.R.H: msb 3 is below lsb 4; left out"}},
        ReadCase{"FieldsOfABaseFitADerivedRegister",
                      svd(peripheral(reg("W", "0", kField4to7) +
                                     "<register derivedFrom=\"W\"><name>N</name><addressOffset>4</addressOffset><size>6</size></register>")),
                      {"P @0x40000000 layout P", "P.W +0x0 32 read-write 0x0 F[7:4]read-write", "P.N +0x4 6 read-write 0x0 F[5:4]read-write"},
                      {"test.svd: P.N.F: bits [7:4] are outside its 6-bit register; kept as [5:4]"}},
        ReadCase{"RegistersThatCannotBePlaced",
                      svd(peripheral(reg("R", "0xZZ") + reg("Z", "8", "<size>0</size>") + reg("W", "0x10", "<size>128</size>") +
                                     reg("OK", "0x20"))),
                      {"P @0x40000000 layout P", "P.OK +0x20 32 read-write 0x0"},
                      {"test.svd: P.R: \"0xZZ\" is not a number; left out", "test.svd: P.Z: size 0 is not 1 to 64 bits; left out",
                       "test.svd: P.W: size 128 is not 1 to 64 bits; left out"}},
        ReadCase{"DimsThatCannotBeMade",
                      svd(peripheral(reg("R%s", "0", "<dim>1000000000</dim><dimIncrement>4</dimIncrement>") +
                                     reg("Q%s", "0", "<dim>3</dim><dimIncrement>4</dimIncrement><dimIndex>A,B</dimIndex>") +
                                     reg("D", "0", "<dim>2</dim><dimIncrement>4</dimIncrement>") + reg("E%s", "0", "<dim>2</dim>") +
                                     reg("OK", "0x10"))),
                      {"P @0x40000000 layout P", "P.OK +0x10 32 read-write 0x0"},
                      {"test.svd: P.R%s: dim 1000000000 is outside 1..65536; left out",
                       "test.svd: P.Q%s: dimIndex \"A,B\" has 2 entries for dim 3; left out",
                       "test.svd: P.D: has dim 2 but no %s in its name; left out", "test.svd: P.E%s: has dim but no dimIncrement; left out"}},
        ReadCase{"ValuesThatCannotBeRead",
                      svd(peripheral(fields(field("F", "<bitOffset>0</bitOffset><bitWidth>16</bitWidth><enumeratedValues>" +
                                                           value("V", "#xxxxxxxxx") + value("BAD", "0b1z") + value("W", "1") +
                                                           "</enumeratedValues>")))),
                      {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0 F[15:0]read-write W=1"},
                      {"test.svd: P.R.F.V: value #xxxxxxxxx has more than 8 don't-care bits; left out",
                       "test.svd: P.R.F.BAD: \"0b1z\" is not a number; left out"}},
        ReadCase{"PeripheralsThatCannotBePlaced",
                      svd("<peripheral><name>A</name></peripheral><peripheral><baseAddress>0</baseAddress></peripheral>" +
                          peripheral(reg("R", "0"), "<size>wide</size>", "B") + peripheral(reg("R", "0"))),
                      {"P @0x40000000 layout P", "P.R +0x0 32 read-write 0x0"},
                      {"test.svd: A: has no baseAddress; left out", "test.svd: a peripheral has no <name>; left out",
                       "test.svd: B: \"wide\" is not a number; left out"}}),
    [](const auto& info) { return info.param.name; });

TEST(SvdNumbers, ReadEveryFormAndRefuseTheRest)
{
    const std::vector<std::pair<std::string, std::uint64_t>> good{
        {"10", 10}, {"0x1F", 31}, {"0X1f", 31}, {"#101", 5}, {"0b11", 3}, {"+7", 7}, {" 42 ", 42}, {"0xFFFFFFFFFFFFFFFF", ~0ull}};
    for (const auto& [text, value] : good)
        EXPECT_EQ(parseSvdNumber(text), value) << text;
    for (const char* bad : {"", "0x", "12a", "-1", "#2", "0x1G", "ten", "0x10000000000000000"})
        EXPECT_THROW(parseSvdNumber(bad), std::invalid_argument) << bad;
}

struct ErrorCase {
    const char* name;
    std::string text;
    std::string expected;
};

void PrintTo(const ErrorCase& c, std::ostream* out) { *out << c.name; }

class SvdFaults : public testing::TestWithParam<ErrorCase> {};

// A fault of the device itself, or a limit passed, leaves nothing worth reading.
TEST_P(SvdFaults, NameTheFileAndTheElement)
{
    EXPECT_THAT(fakes::errorText<PackSourceError>([] { SvdReader::readText(GetParam().text, "test.svd"); }),
                HasSubstr("test.svd: " + GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    All, SvdFaults,
    testing::Values(
        ErrorCase{"DeviceWithoutAName", "<device><peripherals/></device>", "the device has no <name>"},
        ErrorCase{"DevicesOwnPropertyNotANumber", svd(peripheral(reg("R", "0")), "<size>wide</size>"), "\"wide\" is not a number"},
        ErrorCase{"DimOfADim",
                  svd(peripheral("<cluster><name>C%s</name><dim>65536</dim><dimIncrement>0x1000</dimIncrement><addressOffset>0</addressOffset>" +
                                 reg("R%s", "0", "<dim>65536</dim><dimIncrement>4</dimIncrement>") + "</cluster>")),
                  "P.C%s: the device has more than 2000000 registers and fields"},
        ErrorCase{"ManyDerivedFromALargeBase",
                  svd(peripheral(reg("R%s", "0", "<dim>60000</dim><dimIncrement>4</dimIncrement>"), "", "BASE") + [] {
                      std::string derived;
                      for (int i = 0; i < 40; ++i)
                          derived += "<peripheral derivedFrom=\"BASE\"><name>D" + std::to_string(i) +
                                     "</name><baseAddress>0x50000000</baseAddress></peripheral>";
                      return derived;
                  }()),
                  "D31: the device has more than 2000000 registers and fields"},
        ErrorCase{"NotXml", "<device><name>", "not XML"},
        ErrorCase{"AnotherFormat", "<package/>", "its root element is not <device>"},
        ErrorCase{"Entities", "<!DOCTYPE d [<!ENTITY a \"aaaa\">]><device/>", "declares entities"}),
    [](const auto& info) { return info.param.name; });

TEST(SvdFiles, AFileOverTheLimitIsRefusedUnreadAndTheDeviceNameIsReadFromTheHead)
{
    fakes::TempDirectory folder;
    const auto file = folder.write("big.svd", "");
    std::filesystem::resize_file(file, 30u << 20); // sparse: 30 MiB on paper, nothing to read
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THAT(fakes::errorText<PackSourceError>([&] { SvdReader::readFile(file); }),
                HasSubstr(file.string() + ": 30 MiB is over the 16 MiB this file may have"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    const auto head = SvdReader::peekHead(folder.write("a.svd", "<device><vendor>V</vendor><name>T</name><cpu><name>CM0PLUS</name>"
                                                               "</cpu><peripherals><peripheral><name>P</name></peripheral></peripherals></device>"));
    EXPECT_EQ(head.name, "T");
    EXPECT_EQ(head.vendor, "V");
    EXPECT_EQ(head.cpu, "CM0PLUS");
    EXPECT_EQ(SvdReader::peekHead(folder.write("b.svd", "<device><peripherals><peripheral><name>P</name>")).name, "");
    EXPECT_EQ(SvdReader::peekHead(folder.write("d.svd", "<device><name>T</name><cpu></cpu><peripherals><peripheral><name>P</name>")).cpu, "");
    EXPECT_EQ(SvdReader::peekHead(folder.write("c.svd", "not xml")).name, "");
}

} // namespace
} // namespace hil::packs
