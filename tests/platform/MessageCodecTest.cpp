// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/tcf/MessageCodec.h"

namespace hil::tcf {
namespace {

using namespace std::string_literals;

std::vector<Message> decodeAll(MessageDecoder& decoder, std::string_view bytes)
{
    std::vector<Message> messages;
    decoder.feed(bytes, [&](Message&& message) { messages.push_back(std::move(message)); });
    return messages;
}

TEST(MessageCodec, EncodesFieldsWithZeroSeparatorsAndMarker)
{
    const Message command{MessageKind::Command, {"1", "Memory", "get", "\"m1\"", "0"}};
    EXPECT_EQ(encodeMessage(command), "C\0" "1\0" "Memory\0" "get\0" "\"m1\"\0" "0\0" "\x03\x01"s);
    const Message reply{MessageKind::Reply, {"1", "", "[]"}};
    // A success error slot is an empty field.
    EXPECT_EQ(encodeMessage(reply), "R\0" "1\0" "\0" "[]\0" "\x03\x01"s);
}

TEST(MessageCodec, EscapesDataByteThreeBothWays)
{
    const Message event{MessageKind::Event, {"Svc", "ev\x03nt", "\x03\x03"}};
    const std::string wire = encodeMessage(event);
    EXPECT_NE(wire.find("ev\x03\x00nt"s), std::string::npos);
    MessageDecoder decoder;
    EXPECT_THAT(decodeAll(decoder, wire), testing::ElementsAre(event));
}

TEST(MessageCodec, PiecesJoinToTheSameBytesAndOnlyLargeFieldsWithoutEscapesStandAlone)
{
    const std::string large(20000, 'A');
    const std::string largeWithEscape = std::string(20000, 'B') + "\x03";
    struct Case {
        std::vector<std::string> fields;
        std::size_t pieces;
    };
    for (const auto& [fields, pieces] : {Case{{"1", "", "[]"}, 1}, Case{{"1", large, "", "null"}, 3},
                                         Case{{"1", largeWithEscape}, 1}, Case{{"1", large, large}, 5},
                                         Case{{large}, 3}}) {
        const Message message{MessageKind::Reply, fields};
        auto moved = fields;
        const auto encoded = encodeMessagePieces(MessageKind::Reply, std::move(moved));
        std::string joined;
        for (const auto& piece : encoded)
            joined += piece;
        EXPECT_EQ(joined, encodeMessage(message)) << fields.size() << " fields";
        EXPECT_EQ(encoded.size(), pieces) << fields.size() << " fields";
    }
}

TEST(MessageCodec, DecodesTheSameHoweverTheStreamIsCut)
{
    const std::vector<Message> sent{{MessageKind::Command, {"7", "Locator", "sync"}},
                                    {MessageKind::Event, {"Locator", "Hello", "[\"Tool\"]"}},
                                    {MessageKind::Progress, {"7", "\x03"}},
                                    {MessageKind::NotRecognised, {"8"}},
                                    {MessageKind::Flow, {"25"}},
                                    {MessageKind::Reply, {"7"}}};
    std::string wire;
    for (const auto& message : sent)
        wire += encodeMessage(message);
    for (std::size_t chunk = 1; chunk <= wire.size(); ++chunk) {
        MessageDecoder decoder;
        std::vector<Message> received;
        for (std::size_t at = 0; at < wire.size(); at += chunk) {
            auto part = decodeAll(decoder, std::string_view(wire).substr(at, chunk));
            received.insert(received.end(), part.begin(), part.end());
        }
        ASSERT_EQ(received, sent) << "chunk " << chunk;
    }
}

TEST(MessageCodec, EndOfStreamStopsDecoding)
{
    MessageDecoder decoder;
    std::string wire = encodeMessage({MessageKind::Flow, {"0"}});
    appendEndOfStream(wire);
    wire += encodeMessage({MessageKind::Flow, {"1"}});
    EXPECT_EQ(decodeAll(decoder, wire).size(), 1u);
    EXPECT_TRUE(decoder.atEndOfStream());
}

struct Malformed {
    std::string name;
    friend void PrintTo(const Malformed& value, std::ostream* out) { *out << value.name; }
    std::string bytes;
};

class MessageCodecRefuses : public testing::TestWithParam<Malformed> {};

TEST_P(MessageCodecRefuses, AndStaysFailed)
{
    MessageDecoder decoder(64, 8);
    EXPECT_THROW(decodeAll(decoder, GetParam().bytes), DecodeError);
    EXPECT_THROW(decodeAll(decoder, encodeMessage({MessageKind::Flow, {"0"}})), DecodeError);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, MessageCodecRefuses,
    testing::Values(Malformed{"BadEscape", "F\0" "0\0" "\x03\x05"s},
                    Malformed{"MissingLastSeparator", "F\0" "0" "\x03\x01"s},
                    Malformed{"NoKindSeparator", "F0\0" "\x03\x01"s},
                    Malformed{"UnknownKind", "X\0" "0\0" "\x03\x01"s},
                    Malformed{"Empty", "\x03\x01"s},
                    Malformed{"CommandWithoutName", "C\0" "1\0" "Svc\0" "\x03\x01"s},
                    Malformed{"NotRecognisedWithoutToken", "N\0" "\x03\x01"s},
                    Malformed{"LargerThanCap", "E\0" + std::string(100, 'x')},
                    Malformed{"MoreFieldsThanTheCap", "E\0"s + std::string(9, '\0') + "\x03\x01"s}),
    [](const auto& info) { return info.param.name; });

TEST(MessageCodec, MessageExactlyAtTheCapIsAccepted)
{
    // "E\0" + 58 bytes + "\0" + "e\0" = 63 bytes of message body with a cap of 64.
    const Message event{MessageKind::Event, {std::string(58, 's'), "e"}};
    MessageDecoder decoder(64);
    EXPECT_EQ(decodeAll(decoder, encodeMessage(event)).size(), 1u);
}

TEST(MessageCodec, FeedWhileStopsAfterTheMessageThatSaidEnoughAndKeepsTheRest)
{
    const std::string wire = encodeMessage({MessageKind::Flow, {"0"}}) + encodeMessage({MessageKind::Flow, {"1"}});
    MessageDecoder decoder;
    std::vector<Message> seen;
    const auto keep = [&](Message&& message) { seen.push_back(std::move(message)); };
    const std::size_t taken = decoder.feedWhile(wire, keep, [] { return false; });
    EXPECT_EQ(taken, wire.size() / 2);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(decoder.feedWhile(std::string_view(wire).substr(taken), keep, [] { return true; }), wire.size() - taken);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].fields, std::vector<std::string>{"1"});
}

} // namespace
} // namespace hil::tcf
