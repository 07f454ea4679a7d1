// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <functional>

#include "core/frame/CommandArguments.h"
#include "core/frame/ErrorDescr.h"
#include "tests/fakes/Thrown.h"

namespace hil {
namespace {

using Read = std::function<void(const CommandArguments&)>;

struct Refusal {
    std::string name;
    friend void PrintTo(const Refusal& value, std::ostream* out) { *out << value.name; }
    std::string argument;
    Read read;
};

class CommandArgumentsRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(CommandArgumentsRefuses, WithCodeThreeOnly)
{
    const std::vector<std::string> texts{GetParam().argument};
    auto error = fakes::thrown<ErrorDescr>([&] { GetParam().read(CommandArguments(texts)); });
    ASSERT_TRUE(error) << "accepted " << GetParam().argument;
    EXPECT_EQ(error->toJson(), R"({"Code":3})");
}

const Read readString = [](const CommandArguments& a) { a.string(0); };
const Read readInt32 = [](const CommandArguments& a) { a.int32(0); };
const Read readInt64 = [](const CommandArguments& a) { a.int64(0); };
const Read readUint64 = [](const CommandArguments& a) { a.uint64(0); };
const Read readObject = [](const CommandArguments& a) { a.object(0); };
const Read readArray = [](const CommandArguments& a) { a.array(0); };
const Read readBool = [](const CommandArguments& a) { a.boolean(0); };
const Read readSecond = [](const CommandArguments& a) { a.string(1); };

INSTANTIATE_TEST_SUITE_P(
    Kinds, CommandArgumentsRefuses,
    testing::Values(Refusal{"UnquotedWordIsNotJson", "word", readString},
                    Refusal{"NumberIsNotString", "12", readString},
                    Refusal{"NullIsNotString", "null", readString},
                    Refusal{"EmptyTextIsNotJson", "", readString},
                    Refusal{"DoubleIsNotInteger", "1.0", readInt32},
                    Refusal{"StringIsNotInteger", "\"1\"", readInt64},
                    Refusal{"Int32Overflow", "2147483648", readInt32},
                    Refusal{"Int32Underflow", "-2147483649", readInt32},
                    Refusal{"Int64Overflow", "9223372036854775808", readInt64},
                    Refusal{"NegativeIsNotUnsigned", "-1", readUint64},
                    Refusal{"Uint64Overflow", "18446744073709551616", readUint64},
                    Refusal{"ArrayIsNotObject", "[]", readObject},
                    Refusal{"ObjectIsNotArray", "{}", readArray},
                    Refusal{"NumberIsNotBool", "0", readBool},
                    Refusal{"MissingArgument", "\"x\"", readSecond},
                    // No double holds them: echoed they would come back as invalid JSON.
                    Refusal{"NumberBeyondDoubleInAnObject", R"({"Volts":1e400})", readObject},
                    Refusal{"HugeIntegerTextInAnArray", "[[" + std::string(400, '9') + "]]", readArray}),
    [](const auto& info) { return info.param.name; });

TEST(CommandArguments, ReadsEachKind)
{
    const std::vector<std::string> texts{"\"id\"", "-2147483648", "9223372036854775807", "18446744073709551615",
                                         "{\"a\":1}", "[1,2]", "true", " \"\" "};
    const CommandArguments arguments(texts);
    EXPECT_EQ(arguments.string(0), "id");
    EXPECT_EQ(arguments.int32(1), -2147483648);
    EXPECT_EQ(arguments.int64(2), 9223372036854775807);
    EXPECT_EQ(arguments.uint64(3), 18446744073709551615u);
    EXPECT_EQ(arguments.uint64(2), 9223372036854775807u);
    EXPECT_EQ(arguments.object(4).at("a").as_int64(), 1);
    EXPECT_EQ(arguments.array(5).size(), 2u);
    EXPECT_TRUE(arguments.boolean(6));
    EXPECT_EQ(arguments.string(7), "");
    EXPECT_TRUE(arguments.value(7).is_string());
    EXPECT_NO_THROW(arguments.requireCount(8));
    EXPECT_THROW(arguments.requireCount(7), ErrorDescr);
}

TEST(CommandArguments, UncheckedStringReadThrowsTheLibraryError)
{
    const std::vector<std::string> texts{"42"};
    try {
        CommandArguments(texts).stringUnchecked(0);
        FAIL();
    } catch (const ErrorDescr&) {
        FAIL() << "must not be the argument error";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "not a string");
    }
}

} // namespace
} // namespace hil
