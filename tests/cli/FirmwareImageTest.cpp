// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/FirmwareImage.h"
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

} // namespace
} // namespace hil::cli
