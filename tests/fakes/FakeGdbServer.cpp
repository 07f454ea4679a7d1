// SPDX-License-Identifier: Apache-2.0
#include "tests/fakes/FakeGdbServer.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bundles/gdbremote/RspCodec.h"

namespace hil::fakes {

namespace {

// The fake speaks through the client's own codec, which its own tests pin; the targets on QEMU
// check both against a real server.
using gdbremote::rsp::toHex;

std::string bytesOf(const std::string& hex) { return gdbremote::rsp::fromHex(hex).value_or(""); }

std::uint64_t number(const std::string& hex) { return gdbremote::rsp::parseHexNumber(hex).value_or(0); }

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

/// "$" payload "#" checksum, not escaped: a fake told not to escape its replies sends them as they are.
std::string framed(const std::string& payload)
{
    const std::uint8_t sum = gdbremote::rsp::checksum(payload);
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
    address.sin_port = htons(behaviour_.port);
    socklen_t size = sizeof address;
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
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
            const std::string payload = gdbremote::rsp::decodePayload(std::string_view(buffer).substr(1, hash - 1));
            buffer.erase(0, hash + 3);
            bool noAck;
            {
                std::lock_guard lock(mutex_);
                packets_.push_back(payload);
                noAck = noAck_;
            }
            changed_.notify_all();
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
            if (payload == "c" || payload == "vCont;c")
                continue; // the stop reply comes with an interrupt
            const std::string reply = behaviour_.escapeReplies ? gdbremote::rsp::escapeBinary(answer) : answer;
            {
                std::lock_guard lock(mutex_);
                lastReply_ = reply;
            }
            if (behaviour_.corruptReplies > 0) {
                --behaviour_.corruptReplies;
                sendAll(client, "$" + reply + "#00");
            } else {
                sendAll(client, framed(reply));
            }
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
        return "l" + behaviour_.targetXml;
    if (packet.rfind("qXfer:memory-map:read::", 0) == 0) {
        std::ostringstream map;
        map << "l<memory-map>";
        for (const auto& area : behaviour_.flash)
            map << "<memory type=\"flash\" start=\"0x" << std::hex << area.start << "\" length=\"0x" << area.length
                << "\"><property name=\"blocksize\">0x" << area.blockSize << "</property></memory>";
        map << "</memory-map>";
        return map.str();
    }
    if (packet == "?")
        return "S05";
    if (packet == "c" || packet == "vCont;c") {
        running_ = true;
        return "";
    }
    if (packet[0] == 'm')
        return readMemory(packet.substr(1));
    if (packet[0] == 'M')
        return writeMemory(packet.substr(1), false);
    if (packet[0] == 'X')
        return behaviour_.binaryWrites ? writeMemory(packet.substr(1), true) : "";
    if (packet.rfind("vFlashErase:", 0) == 0) {
        const auto comma = packet.find(',');
        const auto start = number(packet.substr(12, comma - 12));
        const auto length = number(packet.substr(comma + 1));
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
    if (packet[0] == 'p') {
        if (!behaviour_.registersByNumber)
            return "";
        const std::uint32_t value = registers_[static_cast<int>(number(packet.substr(1)))];
        return toHex(std::string(reinterpret_cast<const char*>(&value), 4));
    }
    if (packet[0] == 'P') {
        const auto equals = packet.find('=');
        const std::string bytes = bytesOf(packet.substr(equals + 1));
        std::uint32_t value = 0;
        std::copy_n(bytes.begin(), std::min<std::size_t>(4, bytes.size()), reinterpret_cast<char*>(&value));
        registers_[static_cast<int>(number(packet.substr(1, equals - 1)))] = value;
        return "OK";
    }
    if (packet == "g") {
        std::string all;
        for (int number = 0; number < 3; ++number) {
            const std::uint32_t value = registers_[number];
            all += std::string(reinterpret_cast<const char*>(&value), 4);
        }
        return toHex(all);
    }
    if (packet.rfind("qRcmd,", 0) == 0) {
        const std::string output = "did " + bytesOf(packet.substr(6)) + "\n";
        if (behaviour_.oneReplyMonitor)
            return toHex(output);
        sendAll(client_, framed("O" + toHex(output)));
        return "OK";
    }
    if (packet[0] == 'D')
        return "OK";
    return "";
}

const FakeGdbServer::FlashArea* FakeGdbServer::flashAt(std::uint64_t address) const
{
    for (const auto& area : behaviour_.flash)
        if (address >= area.start && address - area.start < area.length)
            return &area;
    return nullptr;
}

std::string FakeGdbServer::readMemory(const std::string& arguments)
{
    const auto comma = arguments.find(',');
    const auto start = number(arguments.substr(0, comma));
    const auto length = number(arguments.substr(comma + 1));
    std::string bytes;
    for (std::uint64_t at = start; at < start + length; ++at) {
        const auto found = memory_.find(at);
        bytes += static_cast<char>(found == memory_.end() ? 0 : found->second);
    }
    return toHex(bytes);
}

std::string FakeGdbServer::writeMemory(const std::string& arguments, bool binary)
{
    const auto comma = arguments.find(',');
    const auto colon = arguments.find(':');
    const auto start = number(arguments.substr(0, comma));
    const auto length = number(arguments.substr(comma + 1, colon - comma - 1));
    const std::string data = binary ? arguments.substr(colon + 1) : bytesOf(arguments.substr(colon + 1));
    if (data.size() != length)
        return "E01";
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (flashAt(start + i))
            return "E02"; // flash takes vFlash packets only
        memory_[start + i] = static_cast<std::uint8_t>(data[i]);
    }
    return "OK";
}

std::vector<std::string> FakeGdbServer::packets() const
{
    std::lock_guard lock(mutex_);
    return packets_;
}

int FakeGdbServer::acksAfterNoAck() const
{
    std::lock_guard lock(mutex_);
    return acksAfterNoAck_;
}

int FakeGdbServer::interrupts() const
{
    std::lock_guard lock(mutex_);
    return interrupts_;
}

void FakeGdbServer::sendPacket(const std::string& payload)
{
    std::lock_guard lock(mutex_);
    if (client_ >= 0)
        sendAll(client_, framed(payload));
}

bool FakeGdbServer::waitForPacket(const std::string& prefix, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::any_of(packets_.begin(), packets_.end(), [&](const std::string& p) { return p.rfind(prefix, 0) == 0; });
    });
}

std::vector<std::uint8_t> FakeGdbServer::memory(std::uint64_t address, std::size_t length) const
{
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto found = memory_.find(address + i);
        bytes[i] = found == memory_.end() ? 0 : found->second;
    }
    return bytes;
}

} // namespace hil::fakes
