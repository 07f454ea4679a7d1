// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <random>

#include "platform/common/Base64.h"

namespace hil {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

struct Vector {
    std::string plain;
    std::string encoded;
    friend void PrintTo(const Vector& value, std::ostream* out) { *out << value.encoded; }
};

class Base64KnownVectors : public testing::TestWithParam<Vector> {};

TEST_P(Base64KnownVectors, EncodeAndDecode)
{
    const auto& [plain, encoded] = GetParam();
    EXPECT_EQ(base64_encode(bytesOf(plain)), encoded);
    std::vector<std::uint8_t> decoded{0xAA};
    ASSERT_TRUE(base64_decode(encoded, decoded));
    EXPECT_EQ(decoded, bytesOf(plain));
}

INSTANTIATE_TEST_SUITE_P(Rfc4648, Base64KnownVectors,
                         testing::Values(Vector{"", ""}, Vector{"f", "Zg=="}, Vector{"fo", "Zm8="},
                                         Vector{"foo", "Zm9v"}, Vector{"foob", "Zm9vYg=="},
                                         Vector{"fooba", "Zm9vYmE="}, Vector{"foobar", "Zm9vYmFy"},
                                         Vector{"\xff\xfe\xfd", "//79"}, Vector{"\xfb\xff", "+/8="}));

/// Base64 as it is defined, six bits at a time: what the fast encoders must match.
std::string encodedByDefinition(const std::vector<std::uint8_t>& bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t bit = 0; bit < bytes.size() * 8; bit += 6) {
        unsigned sextet = 0;
        for (std::size_t b = bit; b < bit + 6; ++b)
            sextet = sextet << 1 | (b < bytes.size() * 8 ? (bytes[b / 8] >> (7 - b % 8)) & 1 : 0);
        text += alphabet[sextet];
    }
    while (text.size() % 4 != 0)
        text += '=';
    return text;
}

const Base64Engine kEngines[] = {Base64Engine::Table, Base64Engine::Avx2, Base64Engine::Avx512};

/// The text the engine writes in place; a guard past its length must stay as it was, since the
/// block encoders store whole blocks.
std::string encodedWith(Base64Engine engine, const std::vector<std::uint8_t>& bytes)
{
    const std::string guard(64, '#');
    std::string buffer(base64_length(bytes.size()), '\0');
    buffer += guard;
    base64_encode_to(bytes, buffer.data(), engine);
    EXPECT_EQ(buffer.substr(buffer.size() - guard.size()), guard) << "engine " << static_cast<int>(engine);
    buffer.resize(buffer.size() - guard.size());
    return buffer;
}

TEST(Base64, EveryEngineLengthAndByteValueMatchesTheDefinitionAndRoundTrips)
{
    std::mt19937 random(7);
    // Past the lengths where each of the block encoders starts and stops.
    for (std::size_t length = 0; length < 300; ++length) {
        std::vector<std::uint8_t> bytes(length);
        for (auto& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        const std::string text = base64_encode(bytes);
        ASSERT_EQ(text, encodedByDefinition(bytes)) << length;
        for (const auto engine : kEngines)
            ASSERT_EQ(encodedWith(engine, bytes), text) << "engine " << static_cast<int>(engine) << ", " << length;
        std::vector<std::uint8_t> back;
        ASSERT_TRUE(base64_decode(text, back)) << length;
        ASSERT_EQ(back, bytes) << length;
    }
    std::vector<std::uint8_t> everyValue(256 * 3);
    for (std::size_t i = 0; i < everyValue.size(); ++i)
        everyValue[i] = static_cast<std::uint8_t>(i / 3 + i % 3 * 85);
    for (const auto engine : kEngines)
        EXPECT_EQ(encodedWith(engine, everyValue), encodedByDefinition(everyValue)) << "engine " << static_cast<int>(engine);
}

TEST(Base64, JsonStringPutsTheTextBetweenItsQuotes)
{
    EXPECT_EQ(base64_json_string(bytesOf("foo")), "\"Zm9v\"");
    EXPECT_EQ(base64_json_string({}), "\"\"");
}

class Base64RefusedText : public testing::TestWithParam<std::string> {};

TEST_P(Base64RefusedText, DecodesToNothing)
{
    std::vector<std::uint8_t> bytes{1, 2, 3};
    EXPECT_FALSE(base64_decode(GetParam(), bytes));
    EXPECT_TRUE(bytes.empty());
}

INSTANTIATE_TEST_SUITE_P(Strict, Base64RefusedText,
                         testing::Values("Zg=",        // length not a multiple of 4
                                         "Zm9vY",      // same
                                         "Zm9v\n",     // whitespace is not skipped
                                         "Zm 9",       // character outside the alphabet
                                         "Zm-9",       // URL-safe alphabet is not standard
                                         "Z===",       // three padding characters
                                         "====",       // padding only
                                         "Zg=a",       // padding inside the last group
                                         "Zg==Zg==",   // padding before the end
                                         "Zh==",       // stray bits under two padding characters
                                         "Zm9="));     // stray bits under one padding character

} // namespace
} // namespace hil
