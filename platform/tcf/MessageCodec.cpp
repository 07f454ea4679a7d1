// SPDX-License-Identifier: Apache-2.0
#include "platform/tcf/MessageCodec.h"

#include <algorithm>
#include <cstring>

namespace hil::tcf {

namespace {

void appendEscaped(std::string_view data, std::string& out)
{
    // JSON texts never hold a raw byte 3, so the common case is one bulk append.
    std::size_t start = 0;
    for (std::size_t at = data.find(wire::Escape); at != std::string_view::npos; at = data.find(wire::Escape, start)) {
        out.append(data.substr(start, at - start));
        out.push_back(wire::Escape);
        out.push_back(wire::EscapedData);
        start = at + 1;
    }
    out.append(data.substr(start));
}

std::size_t minimumFields(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Command: return 3;
    case MessageKind::Event: return 2;
    case MessageKind::Reply:
    case MessageKind::Progress:
    case MessageKind::NotRecognised:
    case MessageKind::Flow: return 1;
    }
    return 0;
}

bool isKnownKind(char c)
{
    switch (static_cast<MessageKind>(c)) {
    case MessageKind::Command:
    case MessageKind::Reply:
    case MessageKind::Progress:
    case MessageKind::NotRecognised:
    case MessageKind::Event:
    case MessageKind::Flow: return true;
    }
    return false;
}

} // namespace

void appendEncodedMessage(MessageKind kind, const std::vector<std::string>& fields, std::string& out)
{
    const std::vector<std::string_view> views(fields.begin(), fields.end());
    appendEncodedMessage(kind, views, out);
}

void appendEncodedMessage(MessageKind kind, std::span<const std::string_view> fields, std::string& out)
{
    std::size_t size = 4;
    for (const auto& field : fields)
        size += field.size() + 1;
    out.reserve(out.size() + size);
    out.push_back(static_cast<char>(kind));
    out.push_back('\0');
    for (const auto& field : fields) {
        appendEscaped(field, out);
        out.push_back('\0');
    }
    out.push_back(wire::Escape);
    out.push_back(wire::EndOfMessage);
}

std::string encodeMessage(const Message& message)
{
    std::string out;
    appendEncodedMessage(message.kind, message.fields, out);
    return out;
}

std::vector<std::string> encodeMessagePieces(MessageKind kind, std::vector<std::string>&& fields)
{
    // Below this, copying costs less than a piece of its own in the write.
    constexpr std::size_t kMovedFieldBytes = 16 * 1024;
    std::vector<std::string> pieces(1);
    pieces.back().push_back(static_cast<char>(kind));
    pieces.back().push_back('\0');
    for (auto& field : fields) {
        if (field.size() >= kMovedFieldBytes && field.find(wire::Escape) == std::string::npos) {
            pieces.push_back(std::move(field));
            pieces.emplace_back();
        } else {
            appendEscaped(field, pieces.back());
        }
        pieces.back().push_back('\0');
    }
    pieces.back().push_back(wire::Escape);
    pieces.back().push_back(wire::EndOfMessage);
    return pieces;
}

void appendEndOfStream(std::string& out)
{
    out.push_back(wire::Escape);
    out.push_back(wire::EndOfStream);
}

MessageDecoder::MessageDecoder(std::size_t maxMessageBytes, std::size_t maxFields)
    : maxMessageBytes_(maxMessageBytes), maxFields_(maxFields)
{
}

void MessageDecoder::failWith(const std::string& reason)
{
    failed_ = true;
    pending_.clear();
    throw DecodeError(reason);
}

void MessageDecoder::feed(std::string_view bytes, const MessageHandler& onMessage)
{
    feedWhile(bytes, onMessage, [] { return true; });
}

std::size_t MessageDecoder::feedWhile(std::string_view bytes, const MessageHandler& onMessage,
                                      const std::function<bool()>& keepGoing)
{
    if (failed_)
        throw DecodeError("the stream already failed");
    std::size_t at = 0;
    while (at < bytes.size() && !endOfStream_) {
        if (escapePending_) {
            escapePending_ = false;
            switch (bytes[at++]) {
            case wire::EscapedData: pending_.push_back(wire::Escape); break;
            case wire::EndOfMessage:
                onMessage(finishMessage());
                if (!keepGoing())
                    return at;
                break;
            case wire::EndOfStream: endOfStream_ = true; break;
            default: failWith("invalid escape sequence");
            }
        } else {
            const char* begin = bytes.data() + at;
            const void* escape = std::memchr(begin, wire::Escape, bytes.size() - at);
            const std::size_t run = escape ? static_cast<const char*>(escape) - begin : bytes.size() - at;
            pending_.append(begin, run);
            at += run;
            if (escape) {
                escapePending_ = true;
                ++at;
            }
        }
        if (pending_.size() > maxMessageBytes_)
            failWith("message larger than " + std::to_string(maxMessageBytes_) + " bytes");
    }
    return at;
}

Message MessageDecoder::finishMessage()
{
    // The buffer is kept for the next message, unless an unusually large one grew it: large
    // transfers then do not allocate it afresh each time, and a single huge message does not
    // pin its size for the life of the channel.
    constexpr std::size_t kKeptCapacity = 1 << 20;
    struct ClearPending {
        std::string& pending;
        ~ClearPending()
        {
            pending.clear();
            if (pending.capacity() > kKeptCapacity)
                pending.shrink_to_fit();
        }
    } clearAfterwards{pending_};
    const std::string& raw = pending_;
    if (raw.empty())
        failWith("empty message");
    if (raw.back() != '\0')
        failWith("message does not end with a field separator");
    if (raw.size() < 2 || raw[1] != '\0' || !isKnownKind(raw[0]))
        failWith("unknown message kind");
    // Counted before anything is allocated: each field costs a string of its own.
    const auto fieldCount = static_cast<std::size_t>(std::count(raw.begin() + 2, raw.end(), '\0'));
    if (fieldCount > maxFields_)
        failWith("message has more than " + std::to_string(maxFields_) + " fields");
    Message message;
    message.kind = static_cast<MessageKind>(raw[0]);
    message.fields.reserve(fieldCount);
    std::size_t start = 2;
    while (start < raw.size()) {
        const std::size_t end = raw.find('\0', start);
        message.fields.emplace_back(raw, start, end - start);
        start = end + 1;
    }
    if (message.fields.size() < minimumFields(message.kind))
        failWith("too few fields for its kind");
    return message;
}

} // namespace hil::tcf
