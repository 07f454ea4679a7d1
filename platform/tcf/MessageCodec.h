// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hil::tcf {

/// The kinds of TCF message, by their first byte.
enum class MessageKind : char {
    Command = 'C',       ///< token, service, command, arguments...
    Reply = 'R',         ///< token, values...
    Progress = 'P',      ///< token, values...
    NotRecognised = 'N', ///< token
    Event = 'E',         ///< service, event, arguments...
    Flow = 'F',          ///< congestion level
};

/// One message: its kind and its fields, without separators or escapes.
struct Message {
    MessageKind kind = MessageKind::Event;
    std::vector<std::string> fields;

    bool operator==(const Message&) const = default;
};

/// Bytes with a meaning of their own on the stream.
namespace wire {
constexpr char Escape = 3;
constexpr char EscapedData = 0;     ///< 3 0: a data byte 3
constexpr char EndOfMessage = 1;    ///< 3 1
constexpr char EndOfStream = 2;     ///< 3 2
constexpr std::size_t DefaultMaxMessageBytes = 16u << 20;
/// No command or event of any service has more than a handful of fields; a cap keeps a message
/// of millions of empty fields from costing gigabytes as separate strings.
constexpr std::size_t DefaultMaxMessageFields = 1024;
} // namespace wire

/// Appends the wire form of one message: the kind byte, then each field, each followed by a
/// zero byte, then the end-of-message marker; data bytes 3 are escaped.
void appendEncodedMessage(MessageKind kind, std::span<const std::string_view> fields, std::string& out);
void appendEncodedMessage(MessageKind kind, const std::vector<std::string>& fields, std::string& out);

/// The wire form of one message.
std::string encodeMessage(const Message& message);

/// The wire form of one message as pieces to be written one after another. A large field that
/// needs no escape (Base64 memory contents) becomes a piece of its own, moved, not copied; the
/// rest is gathered into the pieces between.
std::vector<std::string> encodeMessagePieces(MessageKind kind, std::vector<std::string>&& fields);

/// Appends the end-of-stream marker.
void appendEndOfStream(std::string& out);

/// Why a stream could not be decoded.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Turns a byte stream into messages, however the stream is cut into reads.
///
/// A stream is refused with `DecodeError` when a byte 3 is followed by anything but 0, 1 or 2;
/// when a message is empty, has an unknown kind, does not end its last field with a zero byte, or
/// has too few fields for its kind or more than the field cap; or when one message grows past the
/// byte cap. After an error or the end-of-stream marker the decoder takes no more bytes.
class MessageDecoder {
public:
    using MessageHandler = std::function<void(Message&&)>;

    explicit MessageDecoder(std::size_t maxMessageBytes = wire::DefaultMaxMessageBytes,
                            std::size_t maxFields = wire::DefaultMaxMessageFields);

    /// Decodes `bytes`, calling `onMessage` for each message completed. Throws `DecodeError`.
    void feed(std::string_view bytes, const MessageHandler& onMessage);
    /// Like `feed`, but after each message stops when `keepGoing` says no, so that a reader can
    /// hold back the rest; returns how many bytes of `bytes` it took.
    std::size_t feedWhile(std::string_view bytes, const MessageHandler& onMessage,
                          const std::function<bool()>& keepGoing);

    /// True once the end-of-stream marker was read.
    bool atEndOfStream() const { return endOfStream_; }

private:
    Message finishMessage();
    void failWith(const std::string& reason);

    std::size_t maxMessageBytes_;
    std::size_t maxFields_;
    std::string pending_;
    bool escapePending_ = false;
    bool endOfStream_ = false;
    bool failed_ = false;
};

} // namespace hil::tcf
