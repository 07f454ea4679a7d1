// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace hil::fakes {

/// A GDB remote protocol server on a loopback port, for what QEMU's stub never does. Its replies
/// go out as given, unescaped (an `answer` may send run-length codes).
///
/// By default it is a small target: little-endian memory (every address readable, zero until
/// written; `flash` areas in its memory map take `vFlash*` only), the 32-bit registers r0, sp
/// and pc (numbered from 0), "?" answered "S05", `qRcmd` answered in `O` packets then "OK", and
/// `c` or `vCont;c` answered by "Hi\n" in an `O` packet, then a stop reply only at the interrupt;
/// a step answered "S05" at once.
/// It serves one client at a time, and the next one when that one leaves. `answer` replaces the
/// target for the packets it takes (return nullopt to pass, "" for an empty reply); `silentOn`
/// names packet prefixes it never answers.
class FakeGdbServer {
public:
    struct FlashArea {
        std::uint64_t start, length, blockSize;
    };
    struct Behaviour {
        bool offerNoAck = false;
        bool nakEverything = false;
        /// This many replies go out with a wrong checksum first; a NAK gets the good one.
        int corruptReplies = 0;
        std::vector<FlashArea> flash = {};
        std::function<std::optional<std::string>(const std::string& packet)> answer = {};
        std::vector<std::string> silentOn = {};
        /// Close the connection after this many packets (0: never).
        int closeAfter = 0;
    };

    FakeGdbServer();
    explicit FakeGdbServer(Behaviour behaviour);
    ~FakeGdbServer();
    FakeGdbServer(const FakeGdbServer&) = delete;
    FakeGdbServer& operator=(const FakeGdbServer&) = delete;

    std::uint16_t port() const { return port_; }
    /// A loopback port nobody listens on.
    static std::uint16_t closedPort() { return FakeGdbServer().port(); }
    /// Every packet received, unescaped, in order.
    std::vector<std::string> packets() const { return locked(packets_); }
    /// How many '+' the client sent after acknowledging the reply that began no-ack mode.
    int acksAfterNoAck() const { return locked(acksAfterNoAck_); }
    /// How many times the interrupt byte arrived.
    int interrupts() const { return locked(interrupts_); }
    /// Whether a packet starting with `prefix` has arrived. A reply goes out after its packet is
    /// counted: what a client had answered is here.
    bool received(const std::string& prefix) const;
    /// The memory the target holds at [address, address + length).
    std::vector<std::uint8_t> memory(std::uint64_t address, std::size_t length) const;
    /// Closes the listening socket and the client: the server is gone.
    void stop();

private:
    void serve();
    void serveClient(int client);
    std::string handle(const std::string& packet);
    std::string writeMemory(const std::string& arguments, bool binary);
    /// The memory at [address, address + length), with the mutex held.
    std::string bytesAt(std::uint64_t address, std::uint64_t length) const;
    template <class T>
    T locked(const T& member) const
    {
        std::lock_guard lock(mutex_);
        return member;
    }

    Behaviour behaviour_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    int client_ = -1;
    bool stopped_ = false;
    bool noAck_ = false;
    bool running_ = false;
    int acksAfterNoAck_ = 0;
    bool okOfNoAckUnacked_ = false;
    std::string lastReply_; ///< the serving thread's own
    int interrupts_ = 0;
    std::vector<std::string> packets_;
    std::map<std::uint64_t, std::uint8_t> memory_;
    std::string registers_ = std::string(3 * 4, '\0'); ///< r0, sp and pc, as `g` sends them
    std::thread thread_;
};

} // namespace hil::fakes
