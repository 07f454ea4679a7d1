// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/rsp/PacketReader.h"
#include "platform/rsp/RspCodec.h"
#include "platform/common/Errors.h"

namespace hil::gdbremote {

/// The server refused a request with "Exx"; `number` is the xx.
class RspRefused : public TargetError {
public:
    RspRefused(const std::string& what, int number) : TargetError(what), number_(number) {}
    int number() const { return number_; }

private:
    int number_;
};

/// A client of one GDB remote protocol server over TCP: the packet layer.
///
/// Opening connects within the time-out, asks `qSupported`, and turns no-ack mode on when the
/// server offers it. One request runs at a time; each waits at most the time-out for its
/// acknowledgement and its reply, and a NAK is answered by sending again (three times at most).
/// A server that does not answer in time, closes, sends a packet longer than `maxPacketBytes`
/// or a run-length code that cannot be expanded is taken as lost: the lost handler runs once,
/// with the reason, and every request from then on throws `TargetLostError` at once. (A late
/// reply would otherwise answer the next request.)
///
/// While the target runs (after `resume`), no packet is sent: a request throws
/// `std::logic_error`; only `interrupt` (the raw byte 0x03) may be sent. The stop reply that
/// ends the run goes to the stop handler. Console output (`O` packets) goes to the output
/// handler, except during `monitor`, which returns it. A stop reply nobody waits for (a server
/// that reports the state it was in on connect) is dropped.
///
/// Replies are read by the thread that asked; while the target runs, a thread of the client
/// reads its output and the stop reply. Nothing reads while the target is halted and no request
/// runs: a server that goes away then is found lost by the next request. Handlers run on
/// whichever thread read the packet; they must not call back into the client and must not
/// destroy it.
class RspClient {
public:
    struct Options {
        std::chrono::milliseconds timeout{3000};
        std::size_t maxPacketBytes = 1u << 20;
    };
    using OutputHandler = std::function<void(const std::string& text)>;
    using StopHandler = std::function<void(const rsp::StopReply& stop)>;
    using LostHandler = std::function<void(const std::string& reason)>;

    /// Throws `TargetLostError` naming host and port when it cannot connect or the server
    /// does not answer `qSupported`.
    RspClient(const std::string& host, std::uint16_t port, Options options);
    RspClient(const std::string& host, std::uint16_t port) : RspClient(host, port, Options{}) {}
    /// Joins the thread that reads while the target runs: never run it from a handler.
    ~RspClient();
    RspClient(const RspClient&) = delete;
    RspClient& operator=(const RspClient&) = delete;

    /// Set the handlers before resuming the target; they are not changed while it runs. The stop
    /// handler runs on the thread that read the stop reply, before `interrupt` returns; it must
    /// not make requests.
    void setOutputHandler(OutputHandler handler);
    void setStopHandler(StopHandler handler);
    void setLostHandler(LostHandler handler);

    /// Whether the `qSupported` reply offered `feature` ("name+").
    bool supports(const std::string& feature) const;
    /// The largest packet the server takes, from "PacketSize" (400 when it does not say).
    std::size_t packetSize() const { return packetSize_; }
    bool noAckMode() const { return !ackMode_; }
    std::chrono::milliseconds timeout() const { return options_.timeout; }

    /// Sends `packet` and returns the reply. `Exx` is returned like any reply: the caller names
    /// what failed (see `checkOk`).
    std::string request(const std::string& packet);
    /// A monitor command (`qRcmd`) and its output, whether the server sends it in `O` packets
    /// before "OK" or as the hex of the whole text in one reply. Throws `RspRefused` for Exx and
    /// `std::runtime_error` when the server has no monitor commands.
    std::string monitor(const std::string& command);

    /// Sends a packet that starts the target running (`c`, `vCont;c`, `s`...) without waiting
    /// for a reply: the stop reply comes when the target stops.
    void resume(const std::string& packet);
    /// Sends a packet that runs the target briefly (a step) and reads until its stop reply has
    /// been handled, on this thread: a thread to read a step's stop would cost more than the
    /// step. True when it stopped within `timeout`; else it runs on, watched as after `resume`.
    bool runToStop(const std::string& packet, std::chrono::milliseconds timeout);
    /// Sends 0x03 if the target runs and waits for its stop reply and for the stop handler.
    void interrupt();
    /// Waits up to `timeout` for a running target to stop; true when it is stopped.
    bool waitForStop(std::chrono::milliseconds timeout);
    /// True from the resume until the stop handler has run for the stop that ended the run.
    bool running() const;
    bool lost() const;

    /// Throws `RspRefused` ("WHAT failed: error 0xNN") unless `reply` is "OK".
    static void checkOk(const std::string& reply, const std::string& what);

private:
    void connectSocket(const std::string& host, std::uint16_t port);
    void negotiate();
    using Clock = std::chrono::steady_clock;
    /// Reads what arrives until `deadline` (one read at most); false when nothing came.
    bool readSome(Clock::time_point deadline);
    /// Reads while the target runs: its output and the stop reply that ends the run.
    void watch();
    /// Hands the reading of a running target to a watcher thread.
    void startWatcher();
    /// Sends a packet that runs the target, marked running first; unmarked again when it fails.
    /// Holds `ioMutex_`.
    void sendRunPacket(const std::string& packet, std::unique_lock<std::mutex>& lock);
    /// Feeds received bytes to the packet reader.
    void consume(std::string_view bytes);
    void dispatch(std::string packet);
    void sendRaw(const std::string& bytes);
    /// Sends `packet` and waits for its reply (`wantReply`) or else its acknowledgement (in ack
    /// mode), sending it again on a NAK; the reply, or empty.
    std::string exchange(const std::string& packet, bool wantReply, std::unique_lock<std::mutex>& lock);
    /// Marks the connection lost (once) and wakes everyone who waits.
    void markLost(const std::string& reason);
    [[noreturn]] void throwLost() const;
    /// Throws when the connection is lost or the target runs (`what` names the request).
    void checkIdle(const std::string& what) const;

    const Options options_;
    const std::string endpoint_;
    int socket_ = -1;
    std::map<std::string, std::string> features_;
    std::size_t packetSize_ = 0x400;
    std::atomic<bool> ackMode_{true};

    std::mutex requestMutex_;  ///< one request at a time
    std::mutex ioMutex_;       ///< held by the one thread that reads the socket
    std::mutex sendMutex_;     ///< whole frames on the wire
    mutable std::mutex mutex_; ///< what follows
    std::condition_variable changed_;
    std::deque<std::string> replies_;
    int acks_ = 0;
    int naks_ = 0;
    bool awaitingReply_ = false;
    bool running_ = false;
    bool announcingStop_ = false; ///< the stop handler runs for the stop just read
    bool lossReported_ = false; ///< the loss is being or was reported
    bool lost_ = false;         ///< requests fail with it (set once the handler heard of it)
    std::string lostReason_;
    std::string* monitorOutput_ = nullptr;
    OutputHandler onOutput_;
    StopHandler onStop_;
    LostHandler onLost_;

    /// Touched by the holder of `ioMutex_` only.
    rsp::PacketReader reader_;

    std::thread watcher_; ///< reads while the target runs
};

} // namespace hil::gdbremote
