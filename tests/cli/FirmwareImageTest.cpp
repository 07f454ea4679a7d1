// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/FirmwareImage.h"
#include "tests/cli/ElfWriter.h"
#include "tests/fakes/IntelHex.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::cli {
namespace {

using testing::HasSubstr;

using fakes::intelHexRecord;
const std::string& kEnd = fakes::kIntelHexEnd;

class FirmwareImageTest : public testing::Test {
protected:
    FirmwareImage read(const std::string& text, std::optional<std::uint64_t> address = std::nullopt)
    {
        return readFirmwareImage(files.write("image", text), address);
    }
    fakes::TempDirectory files;
};

TEST_F(FirmwareImageTest, IntelHexPlacesDataThroughBothExtendedAddressFormsAndJoinsWhatTouches)
{
    const auto image = read(intelHexRecord(0x04, 0, {0x20, 0x00}) + intelHexRecord(0x00, 0x0010, {1, 2}) + intelHexRecord(0x00, 0x0012, {3}) +
                            intelHexRecord(0x02, 0, {0x10, 0x00}) + intelHexRecord(0x00, 0x0004, {9}) + intelHexRecord(0x05, 0, {0, 0, 1, 0}) +
                            kEnd);
    EXPECT_EQ(image.format, "Intel HEX");
    ASSERT_EQ(image.segments.size(), 2u);
    // 0x1000 << 4 plus 4; then 0x2000 << 16 plus 0x10, three bytes in one piece.
    EXPECT_EQ(image.segments[0].address, 0x10004u);
    EXPECT_EQ(image.segments[1].address, 0x20000010u);
    EXPECT_EQ(image.segments[1].bytes, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(image.byteCount(), 4u);
}

TEST_F(FirmwareImageTest, AnyFileIsABinaryAtTheAddressGivenAndAnElfGivesItsLoadableSegments)
{
    const auto binary = read("ELF or not", 0x8000);
    EXPECT_EQ(binary.format, "binary");
    EXPECT_EQ(binary.segments.at(0).address, 0x8000u);
    EXPECT_EQ(binary.segments.at(0).bytes.size(), 10u);
    // This test program is an ELF file with loadable segments.
    const auto elf = readFirmwareImage("/proc/self/exe", std::nullopt);
    EXPECT_EQ(elf.format, "ELF");
    EXPECT_FALSE(elf.segments.empty());
    EXPECT_GT(elf.byteCount(), 1000u);
}

struct BrokenImage {
    std::string name;
    friend void PrintTo(const BrokenImage& value, std::ostream* out) { *out << value.name; }
    std::string text;
    std::string why;
};

class FirmwareImageRefuses : public FirmwareImageTest, public testing::WithParamInterface<BrokenImage> {};

TEST_P(FirmwareImageRefuses, NamingTheFileAndThePlace)
{
    try {
        read(GetParam().text);
        FAIL() << "read";
    } catch (const HilError& error) {
        EXPECT_THAT(error.what(), HasSubstr(files.path().string()));
        EXPECT_THAT(error.what(), HasSubstr(GetParam().why));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, FirmwareImageRefuses,
    testing::Values(BrokenImage{"NeitherFormat", "hello", "is neither an ELF nor an Intel HEX file"},
                    BrokenImage{"BadChecksum", ":0100000001FF\n" + kEnd, "line 1: wrong checksum"},
                    BrokenImage{"ShortRecord", ":0400000001FB\n" + kEnd, "line 1: its length says 4 bytes"},
                    BrokenImage{"NotHexDigits", ":0100000Z01FE\n" + kEnd, "line 1: not an Intel HEX record"},
                    BrokenImage{"NoEnd", intelHexRecord(0, 0, {1}), "no end-of-file record"},
                    BrokenImage{"AfterTheEnd", kEnd + intelHexRecord(0, 0, {1}), "line 2: a record after the end-of-file"},
                    BrokenImage{"UnknownType", intelHexRecord(0x07, 0, {}) + kEnd, "unknown record type 7"},
                    BrokenImage{"Overlap", intelHexRecord(0, 0, {1, 2}) + intelHexRecord(0, 1, {3}) + kEnd, "overlap at address 0x00000001"},
                    BrokenImage{"Empty", kEnd, "holds no bytes"},
                    BrokenImage{"ElfThatIsCut", std::string("\x7F" "ELF\x01\x01\x01", 7), "not an ELF file"}),
    [](const auto& info) { return info.param.name; });

// A firmware's symbols as an ARM compiler writes them: a Thumb function's value has bit 0 set.
const std::vector<testing_elf::Symbol> kFirmwareSymbols{
    {"vectors", 0x0, 0x40, STT_OBJECT},
    {"on_tick", 0x401, 0x20, STT_FUNC},
    {"reset_handler", 0x4A1, 0x40, STT_FUNC},
    {"$t", 0x400, 0, STT_NOTYPE},               // a mapping symbol, no function
    {"memcpy", 0, 0, STT_FUNC, SHN_UNDEF},     // referred to, not defined here
    {"pair_data", 0x600, 8, STT_OBJECT},       // a function and an object at one place
    {"pair_code", 0x601, 8, STT_FUNC},
    {"tick_count", 0x20000000, 4, STT_OBJECT},
    {"odd_byte", 0x20000005, 1, STT_OBJECT},   // data keeps its bit 0
    {"marker", 0x20001000, 0, STT_OBJECT},     // no size: only its own address
};

class SymbolTableTest : public testing::Test {
protected:
    const SymbolTable symbols = SymbolTable::parse(testing_elf::elfWithSymbols(EM_ARM, kFirmwareSymbols), "fw.elf");
};

TEST_F(SymbolTableTest, FindsFunctionsAtTheirEvenAddressAndDataWhereItIs)
{
    const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> cases{
        {"on_tick", 0x400},    {"reset_handler", 0x4A0}, {"tick_count", 0x20000000}, {"odd_byte", 0x20000005},
        {"pair_code", 0x600},  {"vectors", 0},           {"$t", std::nullopt},        {"memcpy", std::nullopt},
        {"ON_TICK", std::nullopt}, {"on_tic", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [name, address] : cases) {
        const ElfSymbol* found = symbols.find(name);
        EXPECT_EQ(found ? std::optional(found->address) : std::nullopt, address) << name;
    }
    EXPECT_TRUE(symbols.find("on_tick")->function);
    EXPECT_FALSE(symbols.find("tick_count")->function);
    EXPECT_EQ(symbols.file(), "fw.elf");
    EXPECT_THAT(symbols.names(), testing::UnorderedElementsAre("vectors", "on_tick", "reset_handler", "pair_data",
                                                               "pair_code", "tick_count", "odd_byte", "marker"));
}

TEST_F(SymbolTableTest, NamesAnAddressByTheSymbolThatHoldsItAFunctionFirst)
{
    const std::vector<std::pair<std::uint64_t, std::string>> cases{
        {0x400, "on_tick"},          {0x41E, "on_tick+0x1e"},       {0x420, ""},
        {0x4A0, "reset_handler"},    {0x4DF, "reset_handler+0x3f"}, {0x3F, "vectors+0x3f"},
        {0x600, "pair_code"},        {0x607, "pair_code+0x7"},      {0x608, ""},
        {0x20000003, "tick_count+0x3"}, {0x20000005, "odd_byte"},   {0x20000006, ""},
        {0x20001000, "marker"},      {0x20001001, ""},              {0xFFFFFFFF, ""},
    };
    for (const auto& [address, place] : cases)
        EXPECT_EQ(symbols.placeOf(address), place) << std::hex << address;
}

TEST(SymbolTable, KeepsBitZeroOfFunctionsOfOtherMachines)
{
    const auto symbols = SymbolTable::parse(testing_elf::elfWithSymbols(EM_RISCV, {{"start", 0x401, 4, STT_FUNC}}), "rv.elf");
    EXPECT_EQ(symbols.find("start")->address, 0x401u);
    EXPECT_EQ(symbols.placeOf(0x400), "");
}

TEST(SymbolTable, RefusesWhatHasNoSymbolsNamingTheFile)
{
    const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> cases{
        {testing_elf::elfWithSymbols(EM_ARM, {{"main", 0x401, 2, STT_FUNC}}, false), "x.elf has no symbol table"},
        {{':', '0', '0'}, "x.elf is no ELF file"},
        {{0x7F, 'E', 'L', 'F', 1}, "x.elf: not an ELF file libelf can read"},
    };
    for (const auto& [bytes, why] : cases) {
        try {
            SymbolTable::parse(bytes, "x.elf");
            ADD_FAILURE() << why;
        } catch (const ImageError& error) {
            EXPECT_THAT(error.what(), HasSubstr(why));
        }
    }
    EXPECT_THROW(SymbolTable::read("/nonexistent/fw.elf"), FileAccessError);
}

} // namespace
} // namespace hil::cli
