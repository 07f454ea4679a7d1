// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "platform/common/Utf8.h"

namespace hil {
namespace {

struct Utf8Case {
    const char* name;
    std::string in;
    std::string out;
};

class ValidUtf8 : public testing::TestWithParam<Utf8Case> {};

TEST_P(ValidUtf8, ReplacesEachIllFormedPartOnce)
{
    EXPECT_EQ(validUtf8(GetParam().in), GetParam().out);
}

const std::string R = "\xEF\xBF\xBD"; // U+FFFD

INSTANTIATE_TEST_SUITE_P(
    Texts, ValidUtf8,
    testing::Values(Utf8Case{"Ascii", "plain text", "plain text"},
                    Utf8Case{"WellFormedMultiByte", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
                    Utf8Case{"LoneContinuation", "a\x80" "b", "a" + R + "b"},
                    Utf8Case{"InvalidLeads", "\xC0\xC1\xF5\xFF", R + R + R + R},
                    Utf8Case{"Overlong", "\xE0\x80\x80", R + R + R},
                    Utf8Case{"Surrogate", "\xED\xA0\x80", R + R + R},
                    Utf8Case{"AboveTheLastCodePoint", "\xF4\x90\x80\x80", R + R + R + R},
                    Utf8Case{"TruncatedAtTheEnd", "x\xE2\x82", "x" + R},
                    Utf8Case{"TruncatedBeforeAscii", "\xF0\x9F\x98" "z", R + "z"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hil
