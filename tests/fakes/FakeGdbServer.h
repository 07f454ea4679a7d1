// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace hil::fakes {

/// A GDB remote protocol server on a loopback port, written apart from our client (its own
/// framing and escapes), for what QEMU's stub never does.
///
/// By default it is a small target: little-endian memory (every address readable, zero until
/// written; `flash` areas in its memory map take `vFlash*` only), the registers of `targetXml`
/// (4 bytes each, numbered from 0), "?" answered "S05", `qRcmd` answered in `O` packets then
/// "OK" (or, with `oneReplyMonitor`, in one hex packet). It serves one client at a time, and the
/// next one when that one leaves. `answer` replaces the target for the packets it takes
/// (return nullopt to pass, "" for an empty reply); `silentOn` names packet prefixes it never
/// answers.
class FakeGdbServer {
public:
    struct FlashArea {
        std::uint64_t start;
        std::uint64_t length;
        std::uint64_t blockSize;
    };
    struct Behaviour {
        bool offerNoAck = false;
        bool binaryWrites = true;
        bool registersByNumber = true; ///< false: `p` answers empty, `g` has them all
        bool oneReplyMonitor = false;
        bool nakEverything = false;
        /// Replies go out as the answer gives them, unescaped (to send run-length codes).
        bool escapeReplies = true;
        /// This many replies go out with a wrong checksum first; a NAK gets the good one.
        int corruptReplies = 0;
        std::vector<FlashArea> flash = {};
        std::string targetXml = R"(<?xml version="1.0"?><!DOCTYPE target SYSTEM "gdb-target.dtd">)"
                                R"(<target><feature name="core"><reg name="r0" bitsize="32"/>)"
                                R"(<reg name="sp" bitsize="32"/><reg name="pc" bitsize="32"/></feature></target>)";
        std::function<std::optional<std::string>(const std::string& packet)> answer = {};
        std::vector<std::string> silentOn = {};
        /// Close the connection after this many packets (0: never).
        int closeAfter = 0;
        /// The loopback port to listen on; 0 for a free one.
        std::uint16_t port = 0;
    };

    FakeGdbServer();
    explicit FakeGdbServer(Behaviour behaviour);
    ~FakeGdbServer();
    FakeGdbServer(const FakeGdbServer&) = delete;
    FakeGdbServer& operator=(const FakeGdbServer&) = delete;

    std::uint16_t port() const { return port_; }
    /// Every packet received, unescaped, in order.
    std::vector<std::string> packets() const;
    /// How many '+' the client sent after acknowledging the reply that began no-ack mode.
    int acksAfterNoAck() const;
    /// How many times the interrupt byte arrived.
    int interrupts() const;
    /// Sends `payload` as a packet now (an `O` packet, a stop reply...).
    void sendPacket(const std::string& payload);
    /// Waits until a packet starting with `prefix` has arrived.
    bool waitForPacket(const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    /// The memory the target holds at [address, address + length).
    std::vector<std::uint8_t> memory(std::uint64_t address, std::size_t length) const;
    /// Closes the listening socket and the client: the server is gone.
    void stop();

private:
    void serve();
    void serveClient(int client);
    std::string handle(const std::string& packet);
    std::string readMemory(const std::string& arguments);
    std::string writeMemory(const std::string& arguments, bool binary);
    const FlashArea* flashAt(std::uint64_t address) const;

    Behaviour behaviour_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int client_ = -1;
    bool stopped_ = false;
    bool noAck_ = false;
    bool running_ = false;
    int acksAfterNoAck_ = 0;
    bool okOfNoAckUnacked_ = false;
    std::string lastReply_;
    int interrupts_ = 0;
    std::vector<std::string> packets_;
    std::map<std::uint64_t, std::uint8_t> memory_;
    std::map<int, std::uint32_t> registers_;
    std::thread thread_;
};

} // namespace hil::fakes
