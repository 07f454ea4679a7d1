// SPDX-License-Identifier: Apache-2.0
#include "tests/fakes/FakeGdbServer.h"

#include <algorithm>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/rsp/RspCodec.h"

namespace hil::fakes {

namespace {

// The fake speaks through the client's own codec, which its own tests pin; the targets on QEMU
// check both against a real server.
using rsp::toHex;

std::string bytesOf(const std::string& hex) { return rsp::fromHex(hex).value_or(""); }

std::uint64_t number(const std::string& hex) { return rsp::parseHexNumber(hex).value_or(0); }

const std::string kTargetXml = R"(<?xml version="1.0"?><!DOCTYPE target SYSTEM "gdb-target.dtd">)"
                               R"(<target><feature name="core"><reg name="r0" bitsize="32"/>)"
                               R"(<reg name="sp" bitsize="32"/><reg name="pc" bitsize="32"/></feature></target>)";

/// The address and length of "address,length" (up to a ':').
std::pair<std::uint64_t, std::uint64_t> rangeOf(const std::string& text)
{
    const auto comma = text.find(',');
    return {number(text.substr(0, comma)), number(text.substr(comma + 1, text.find(':') - comma - 1))};
}

void sendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

/// "$" payload "#" checksum, the payload as it is: no escapes.
std::string framed(const std::string& payload)
{
    const std::uint8_t sum = rsp::checksum(payload);
    return "$" + payload + "#" + toHex(&sum, 1);
}

} // namespace

FakeGdbServer::FakeGdbServer() : FakeGdbServer(Behaviour{}) {}

FakeGdbServer::FakeGdbServer(Behaviour behaviour) : behaviour_(std::move(behaviour))
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

FakeGdbServer::~FakeGdbServer()
{
    stop();
    thread_.join();
}

void FakeGdbServer::stop()
{
    std::lock_guard lock(mutex_);
    if (stopped_)
        return;
    stopped_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    if (client_ >= 0)
        ::shutdown(client_, SHUT_RDWR);
}

void FakeGdbServer::serve()
{
    for (;;) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        {
            std::lock_guard lock(mutex_);
            if (stopped_) {
                ::close(client);
                return;
            }
            client_ = client;
            const int on = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            noAck_ = false;
            running_ = false;
        }
        serveClient(client);
        std::lock_guard lock(mutex_);
        client_ = -1;
        ::close(client);
    }
}

void FakeGdbServer::serveClient(int client)
{
    std::string buffer;
    char chunk[65536];
    int served = 0;
    for (;;) {
        const auto received = ::recv(client, chunk, sizeof chunk, 0);
        if (received <= 0)
            return;
        buffer.append(chunk, static_cast<std::size_t>(received));
        for (;;) {
            // Acks, interrupts and noise before the next packet.
            std::size_t start = 0;
            while (start < buffer.size() && buffer[start] != '$') {
                std::lock_guard lock(mutex_);
                if (buffer[start] == '+' && noAck_ && !std::exchange(okOfNoAckUnacked_, false))
                    ++acksAfterNoAck_;
                if (buffer[start] == '-' && !lastReply_.empty())
                    sendAll(client, framed(lastReply_));
                if (buffer[start] == 0x03) {
                    ++interrupts_;
                    if (running_) {
                        running_ = false;
                        sendAll(client, framed("T02thread:p01.01;"));
                    }
                }
                ++start;
            }
            buffer.erase(0, start);
            const auto hash = buffer.find('#');
            if (buffer.empty() || hash == std::string::npos || hash + 2 >= buffer.size())
                break;
            const std::string payload = rsp::decodePayload(std::string_view(buffer).substr(1, hash - 1));
            buffer.erase(0, hash + 3);
            bool noAck;
            {
                std::lock_guard lock(mutex_);
                packets_.push_back(payload);
                noAck = noAck_;
            }
            if (behaviour_.nakEverything) {
                sendAll(client, "-");
                continue;
            }
            if (!noAck)
                sendAll(client, "+");
            if (behaviour_.closeAfter && ++served >= behaviour_.closeAfter)
                return;
            if (std::any_of(behaviour_.silentOn.begin(), behaviour_.silentOn.end(),
                            [&](const std::string& prefix) { return payload.rfind(prefix, 0) == 0; }))
                continue;
            const std::string answer = handle(payload);
            lastReply_ = answer;
            const bool damaged = behaviour_.corruptReplies > 0;
            behaviour_.corruptReplies -= damaged;
            sendAll(client, damaged ? "$" + answer + "#00" : framed(answer));
        }
    }
}

std::string FakeGdbServer::handle(const std::string& packet)
{
    if (behaviour_.answer)
        if (auto answered = behaviour_.answer(packet))
            return *answered;
    std::lock_guard lock(mutex_);
    if (packet.rfind("qSupported", 0) == 0) {
        std::string features = "PacketSize=400;qXfer:features:read+";
        if (behaviour_.offerNoAck)
            features += ";QStartNoAckMode+";
        if (!behaviour_.flash.empty())
            features += ";qXfer:memory-map:read+";
        return features;
    }
    if (packet == "QStartNoAckMode" && behaviour_.offerNoAck) {
        noAck_ = true;
        okOfNoAckUnacked_ = true;
        return "OK";
    }
    if (packet.rfind("qXfer:features:read:target.xml:", 0) == 0)
        return "l" + kTargetXml;
    if (packet.rfind("qXfer:memory-map:read::", 0) == 0) {
        std::string map = "l<memory-map>";
        for (const auto& [start, length, blockSize] : behaviour_.flash)
            map += "<memory type=\"flash\" start=\"" + std::to_string(start) + "\" length=\"" + std::to_string(length) +
                   "\"><property name=\"blocksize\">" + std::to_string(blockSize) + "</property></memory>";
        return map + "</memory-map>";
    }
    if (packet == "?")
        return "S05";
    if (packet == "s" || packet == "vCont;s")
        return "S05"; // a step ends at once
    if (packet == "c" || packet == "vCont;c") {
        running_ = true;
        return "O" + toHex("Hi\n"); // the stop reply comes with an interrupt
    }
    if (packet[0] == 'm') {
        const auto [start, length] = rangeOf(packet.substr(1));
        return toHex(bytesAt(start, length));
    }
    if (packet[0] == 'M')
        return writeMemory(packet.substr(1), false);
    if (packet[0] == 'X')
        return writeMemory(packet.substr(1), true);
    if (packet.rfind("vFlashErase:", 0) == 0) {
        const auto [start, length] = rangeOf(packet.substr(12));
        for (std::uint64_t at = start; at < start + length; ++at)
            memory_[at] = 0xFF;
        return "OK";
    }
    if (packet.rfind("vFlashWrite:", 0) == 0) {
        const auto colon = packet.find(':', 12);
        const auto start = number(packet.substr(12, colon - 12));
        const std::string data = packet.substr(colon + 1);
        for (std::size_t i = 0; i < data.size(); ++i)
            memory_[start + i] = static_cast<std::uint8_t>(data[i]);
        return "OK";
    }
    if (packet == "vFlashDone")
        return "OK";
    if (packet[0] == 'p')
        return toHex(registers_.substr(4 * number(packet.substr(1)), 4));
    if (packet[0] == 'P') {
        const auto equals = packet.find('=');
        const std::string value = bytesOf(packet.substr(equals + 1)) + std::string(4, '\0');
        registers_.replace(4 * number(packet.substr(1, equals - 1)), 4, value, 0, 4);
        return "OK";
    }
    if (packet == "g")
        return toHex(registers_);
    if (packet.rfind("qRcmd,", 0) == 0) {
        sendAll(client_, framed("O" + toHex("did " + bytesOf(packet.substr(6)) + "\n")));
        return "OK";
    }
    return "";
}

std::string FakeGdbServer::bytesAt(std::uint64_t address, std::uint64_t length) const
{
    std::string bytes;
    for (std::uint64_t at = address; at < address + length; ++at) {
        const auto found = memory_.find(at);
        bytes += static_cast<char>(found == memory_.end() ? 0 : found->second);
    }
    return bytes;
}

std::string FakeGdbServer::writeMemory(const std::string& arguments, bool binary)
{
    const auto [start, length] = rangeOf(arguments);
    const auto colon = arguments.find(':');
    const std::string data = binary ? arguments.substr(colon + 1) : bytesOf(arguments.substr(colon + 1));
    if (data.size() != length)
        return "E01";
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto at = start + i;
        if (std::any_of(behaviour_.flash.begin(), behaviour_.flash.end(),
                        [&](const FlashArea& area) { return at >= area.start && at - area.start < area.length; }))
            return "E02"; // flash takes vFlash packets only
        memory_[at] = static_cast<std::uint8_t>(data[i]);
    }
    return "OK";
}

bool FakeGdbServer::received(const std::string& prefix) const
{
    std::lock_guard lock(mutex_);
    return std::any_of(packets_.begin(), packets_.end(), [&](const std::string& p) { return p.rfind(prefix, 0) == 0; });
}

std::vector<std::uint8_t> FakeGdbServer::memory(std::uint64_t address, std::size_t length) const
{
    std::lock_guard lock(mutex_);
    const std::string bytes = bytesAt(address, length);
    return {bytes.begin(), bytes.end()};
}

} // namespace hil::fakes
