// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "platform/common/TextNumbers.h"

namespace hil {
namespace {

struct NumberCase {
    std::string text;
    std::optional<std::uint64_t> value;
};

class TextNumbers : public testing::TestWithParam<NumberCase> {};

TEST_P(TextNumbers, ReadDecimalAndHexOnlyWhole)
{
    EXPECT_EQ(parseUnsigned(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextNumbers,
    testing::Values(NumberCase{"0", 0}, NumberCase{"256", 256}, NumberCase{"0x100", 256}, NumberCase{"0XfF", 255},
                    NumberCase{"010", 10}, NumberCase{"18446744073709551615", 18446744073709551615u},
                    NumberCase{"0xFFFFFFFFFFFFFFFF", 18446744073709551615u}, NumberCase{"18446744073709551616", {}},
                    NumberCase{"", {}}, NumberCase{"0x", {}}, NumberCase{"-1", {}}, NumberCase{"+1", {}},
                    NumberCase{" 1", {}}, NumberCase{"1 ", {}}, NumberCase{"12a", {}}, NumberCase{"0x1g", {}},
                    NumberCase{"0x-1", {}}, NumberCase{"1e3", {}}));

TEST(TextNumbers, DigitsInAnyBase)
{
    EXPECT_EQ(parseDigits("1011", 2), 11u);
    EXPECT_EQ(parseDigits("12", 2), std::nullopt);
    EXPECT_EQ(parseDigits("z", 36), 35u);
}

struct HostPortCase {
    std::string text;
    bool portZeroAllowed;
    std::optional<std::pair<std::string, std::uint16_t>> parsed;
};

class HostPorts : public testing::TestWithParam<HostPortCase> {};

TEST_P(HostPorts, SplitAtTheLastColon)
{
    const auto parsed = parseHostPort(GetParam().text, GetParam().portZeroAllowed);
    ASSERT_EQ(parsed.has_value(), GetParam().parsed.has_value()) << GetParam().text;
    if (parsed) {
        EXPECT_EQ(parsed->host, GetParam().parsed->first);
        EXPECT_EQ(parsed->port, GetParam().parsed->second);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HostPorts,
    testing::Values(HostPortCase{"127.0.0.1:1534", false, {{"127.0.0.1", 1534}}},
                    HostPortCase{"::1:3333", false, {{"::1", 3333}}}, HostPortCase{"h:65535", false, {{"h", 65535}}},
                    HostPortCase{"h:0", true, {{"h", 0}}}, HostPortCase{"h:0", false, {}},
                    HostPortCase{"h:65536", false, {}}, HostPortCase{":1534", false, {}},
                    HostPortCase{"h", false, {}}, HostPortCase{"h:", false, {}}, HostPortCase{"h:0x10", false, {}},
                    HostPortCase{"h:-1", false, {}}, HostPortCase{"h:12 ", false, {}}));

} // namespace
} // namespace hil
