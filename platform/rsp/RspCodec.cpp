// SPDX-License-Identifier: Apache-2.0
#include "platform/rsp/RspCodec.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include <boost/algorithm/string.hpp>

#include "platform/common/HexDigit.h"

namespace hil::rsp {

namespace {

constexpr char kEscape = '}';
constexpr char kRepeat = '*';
constexpr char kHexDigits[] = "0123456789abcdef";
/// A run-length count N stands for N - 29 more copies.
constexpr int kRepeatBias = 29;


bool isHexText(std::string_view text)
{
    for (char c : text)
        if (hexDigitValue(c) < 0)
            return false;
    return true;
}

} // namespace

std::uint8_t checksum(std::string_view data)
{
    unsigned sum = 0;
    for (unsigned char c : data)
        sum += c;
    return static_cast<std::uint8_t>(sum);
}

bool needsEscape(char c) { return c == '$' || c == '#' || c == kEscape || c == kRepeat; }

std::string escapeBinary(std::string_view bytes)
{
    std::string escaped;
    escaped.reserve(bytes.size() + bytes.size() / 8);
    for (char c : bytes) {
        if (needsEscape(c)) {
            escaped += kEscape;
            escaped += static_cast<char>(c ^ 0x20);
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string frame(std::string_view data)
{
    std::string framed;
    framed.reserve(data.size() + 4);
    framed += '$';
    // One pass over the data, inlined: memory moves through here a few KiB at a time.
    unsigned sum = 0;
    bool plain = true;
    for (unsigned char c : data) {
        sum += c;
        plain &= c != '$' && c != '#' && c != kEscape && c != kRepeat;
    }
    if (plain) {
        framed += data; // text packets, hex data: the common case
    } else {
        framed += escapeBinary(data);
        sum = checksum(std::string_view(framed).substr(1));
    }
    framed += '#';
    framed += kHexDigits[(sum >> 4) & 0xF];
    framed += kHexDigits[sum & 0xF];
    return framed;
}

std::string decodePayload(std::string_view payload)
{
    // Most packets carry neither escapes nor repeats: one copy. (A plain test: find_first_of
    // would search its set once for every byte.)
    if (std::none_of(payload.begin(), payload.end(), [](char c) { return c == kEscape || c == kRepeat; }))
        return std::string(payload);
    std::string decoded;
    decoded.reserve(payload.size());
    for (std::size_t i = 0; i < payload.size(); ++i) {
        const char c = payload[i];
        if (c == kEscape && i + 1 < payload.size()) {
            decoded += static_cast<char>(payload[++i] ^ 0x20);
        } else if (c == kRepeat) {
            if (decoded.empty() || i + 1 >= payload.size())
                throw std::runtime_error("a run-length repeat with nothing to repeat");
            const int count = static_cast<unsigned char>(payload[++i]) - kRepeatBias;
            if (count < 0 || payload[i] < ' ' || payload[i] > '~')
                throw std::runtime_error("a run-length count that is not printable");
            decoded.append(static_cast<std::size_t>(count), decoded.back());
        } else {
            decoded += c;
        }
    }
    return decoded;
}

std::string toHex(const std::uint8_t* bytes, std::size_t length)
{
    std::string hex(length * 2, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        hex[2 * i] = kHexDigits[bytes[i] >> 4];
        hex[2 * i + 1] = kHexDigits[bytes[i] & 0xF];
    }
    return hex;
}

std::string toHex(std::string_view bytes)
{
    return toHex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::optional<std::string> fromHex(std::string_view hex)
{
    // A table instead of comparisons: memory moves through here a few KiB at a time.
    static constexpr auto kValues = [] {
        std::array<std::int8_t, 256> values{};
        for (int c = 0; c < 256; ++c)
            values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(hexDigitValue(static_cast<char>(c)));
        return values;
    }();
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string bytes(hex.size() / 2, '\0');
    int invalid = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = kValues[static_cast<unsigned char>(hex[2 * i])];
        const int low = kValues[static_cast<unsigned char>(hex[2 * i + 1])];
        invalid |= high | low; // negative once any digit was not one
        bytes[i] = static_cast<char>(high << 4 | low);
    }
    if (invalid < 0)
        return std::nullopt;
    return bytes;
}

std::optional<std::uint64_t> parseHexNumber(std::string_view hex)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
    if (hex.empty() || error != std::errc() || end != hex.data() + hex.size())
        return std::nullopt;
    return value;
}

bool isOutputPacket(std::string_view packet)
{
    return packet.size() > 1 && packet[0] == 'O' && packet.size() % 2 == 1 && isHexText(packet.substr(1));
}

bool isStopReply(std::string_view packet)
{
    if (packet.size() < 3)
        return false;
    const char kind = packet[0];
    return (kind == 'S' || kind == 'T' || kind == 'W' || kind == 'X') && isHexText(packet.substr(1, 2));
}

bool isErrorReply(std::string_view packet)
{
    return packet.size() == 3 && packet[0] == 'E' && isHexText(packet.substr(1));
}

int errorNumber(std::string_view errorReply) { return static_cast<int>(*parseHexNumber(errorReply.substr(1))); }

int replyStatus(std::string_view reply)
{
    if (reply == "OK")
        return 0;
    return isErrorReply(reply) ? errorNumber(reply) : 1;
}

std::string stopPointName(int type)
{
    static constexpr const char* kPoints[] = {"a breakpoint", "a hardware breakpoint", "a write watchpoint",
                                              "a read watchpoint", "an access watchpoint"};
    return type >= 0 && type < 5 ? kPoints[type] : "a stop point";
}

std::string describeRequest(std::string_view packet)
{
    // "ADDRESS,LENGTH" after the first `skip` characters, up to ':' where data follows.
    const auto range = [&](std::size_t skip) -> std::optional<std::pair<std::uint64_t, std::uint64_t>> {
        const auto body = packet.substr(std::min(skip, packet.size()));
        const auto comma = body.find(',');
        if (comma == std::string_view::npos)
            return std::nullopt;
        const auto address = parseHexNumber(body.substr(0, comma));
        // Up to the data, if any: npos stays past the end.
        const auto length = parseHexNumber(body.substr(comma + 1, body.find(':') - comma - 1));
        if (!address || !length)
            return std::nullopt;
        return std::pair{*address, *length};
    };
    const auto at = [](std::uint64_t address) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(address));
        return std::string(text);
    };
    const auto bytes = [&](const char* what, std::size_t skip) -> std::optional<std::string> {
        if (const auto r = range(skip))
            return std::string(what) + " of " + std::to_string(r->second) + " bytes at " + at(r->first);
        return std::nullopt;
    };
    std::optional<std::string> text;
    if (packet.empty())
        return "an empty request";
    if (packet[0] == 'm')
        text = bytes("a read", 1);
    else if (packet[0] == 'M' || packet[0] == 'X')
        text = bytes("a write", 1);
    else if (packet.rfind("vFlashWrite:", 0) == 0)
        text = "a flash write";
    else if (packet.rfind("vFlashErase:", 0) == 0)
        text = bytes("a flash erase", 12);
    else if (packet == "g")
        text = "a read of the registers";
    else if (packet[0] == 'p' || packet[0] == 'P')
        if (const auto number = parseHexNumber(packet.substr(1, packet.find('=') - 1)))
            text = std::string(packet[0] == 'p' ? "a read" : "a write") + " of register " + std::to_string(*number);
    if ((packet[0] == 'Z' || packet[0] == 'z') && packet.size() > 2 && packet[1] >= '0' && packet[1] <= '4')
        if (const auto r = range(3))
            text = std::string(packet[0] == 'Z' ? "setting " : "clearing ") + stopPointName(packet[1] - '0') + " at " +
                   at(r->first);
    if (text)
        return *text;
    const auto end = packet.find_first_of(":,;");
    return "the request " + std::string(packet.substr(0, std::min<std::size_t>(end, 24)));
}

std::optional<std::string> monitorRefusal(std::string_view output)
{
    static constexpr std::string_view kRefusals[] = {"unknown command", "invalid command", "unrecognized command",
                                                     "unrecognised command", "command not found", "not supported",
                                                     "error:"};
    std::vector<std::string> lines;
    boost::algorithm::split(lines, output, [](char c) { return c == '\n' || c == '\r'; });
    for (auto& line : lines) {
        const auto folded = boost::algorithm::to_lower_copy(line);
        for (const auto refusal : kRefusals)
            if (folded.find(refusal) != std::string::npos)
                return boost::algorithm::trim_copy(line);
    }
    return std::nullopt;
}

std::optional<StopReply> parseStopReply(std::string_view packet)
{
    if (!isStopReply(packet))
        return std::nullopt;
    StopReply stop;
    stop.kind = packet[0];
    stop.packet = std::string(packet);
    stop.signal = static_cast<int>(*parseHexNumber(packet.substr(1, 2)));
    if (stop.kind == 'T') {
        std::string_view rest = packet.substr(3);
        while (!rest.empty()) {
            const auto end = rest.find(';');
            const auto pair = rest.substr(0, end);
            const auto colon = pair.find(':');
            if (colon != std::string_view::npos)
                stop.pairs.emplace(std::string(pair.substr(0, colon)), std::string(pair.substr(colon + 1)));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    }
    return stop;
}

std::string StopReply::describe() const
{
    if (kind == 'W')
        return "exited with status " + std::to_string(signal);
    if (kind == 'X')
        return "killed by signal " + std::to_string(signal);
    for (const char* key : {"watch", "rwatch", "awatch"})
        if (const auto found = pairs.find(key); found != pairs.end())
            return "watchpoint at 0x" + found->second;
    if (pairs.count("swbreak") || pairs.count("hwbreak") || signal == 5)
        return "breakpoint";
    return "halted (signal " + std::to_string(signal) + ")";
}

std::map<std::string, std::string> parseFeatures(std::string_view reply)
{
    std::map<std::string, std::string> features;
    while (!reply.empty()) {
        const auto end = reply.find(';');
        const auto item = reply.substr(0, end);
        if (const auto equals = item.find('='); equals != std::string_view::npos)
            features[std::string(item.substr(0, equals))] = std::string(item.substr(equals + 1));
        else if (!item.empty() && (item.back() == '+' || item.back() == '-' || item.back() == '?'))
            features[std::string(item.substr(0, item.size() - 1))] = std::string(1, item.back());
        reply = end == std::string_view::npos ? std::string_view() : reply.substr(end + 1);
    }
    return features;
}

} // namespace hil::rsp
