// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "platform/tcf/ICommandChannel.h"
#include "platform/tcf/MessageCodec.h"
#include "platform/tcf/Protocol.h"

namespace hil::tcf {

/// What one client may cost.
struct ChannelLimits {
    /// A larger incoming message closes its channel.
    std::size_t maxMessageBytes = wire::DefaultMaxMessageBytes;
    /// An incoming message of more fields closes its channel.
    std::size_t maxMessageFields = wire::DefaultMaxMessageFields;
    /// A client whose unsent output passes this is dropped. Only events can take it there:
    /// replies stop at `readPauseBytes` plus one reply.
    std::size_t maxOutgoingBytes = 64u << 20;
    /// While more than this is unsent to a client, none of its commands run.
    std::size_t readPauseBytes = 1u << 20;
    /// A connection that sends no Hello within this is closed.
    std::chrono::milliseconds helloTimeout{5000};
};

class ServerChannel;

/// Where a channel hands each message it reads, and says it has closed: both on the thread
/// that runs the socket's executor, the second once.
struct ChannelCallbacks {
    std::function<void(const std::shared_ptr<ServerChannel>& channel, Message&& message)> onMessage;
    std::function<void(const std::shared_ptr<ServerChannel>& channel)> onClosed;
};

/// One client connection of the server. Its reads, timers and closing run on the socket's
/// executor: the one network thread the channel was given. `send` may be called from any thread: it
/// writes what the socket takes at once and queues the rest, which goes out as soon as the socket
/// has room. Nothing waits for the client. The replies to the commands one read brought in go out
/// together, in one write, once those commands have run; progress reports and events at once.
///
/// What a client costs is bounded: while more than the read-pause limit of output is
/// unsent, the channel runs no more of its commands (a client that pipelines requests faster than
/// it reads the replies is slowed, not dropped); past the outgoing cap, which only events can
/// reach then, the client is dropped. Bytes already written are freed piece by piece.
class ServerChannel : public ICommandChannel, public std::enable_shared_from_this<ServerChannel> {
public:
    ServerChannel(boost::asio::ip::tcp::socket socket, int id, const ChannelLimits& limits,
                  ChannelCallbacks callbacks);

    int getChannelId() const override { return id_; }
    void sendReply(const Token& token, std::vector<std::string> values) override;
    void sendProgress(const Token& token, const std::vector<std::string>& values) override;

    /// Sends encoded bytes, queueing what the socket does not take; drops the client when its
    /// queue passes the cap. Any thread.
    void send(std::string bytes);
    /// Tells the channels that the calling thread runs `events` for its channels: such a thread
    /// leaves writing to other threads' channels to them.
    static void runsChannelsOf(const boost::asio::execution_context& events);
    /// Starts reading, and the clock within which the client must say Hello. On the executor.
    void startReading();
    /// Closes the socket and calls `onClosed`, once. Any thread.
    void close(const std::string& reason);

    bool isClosed() const { return closed_; }
    bool helloReceived() const { return helloReceived_; }
    /// On the executor.
    void markHelloReceived();
    const std::string& peer() const { return peer_; }
    boost::asio::any_io_executor executor() { return socket_.get_executor(); }

private:
    /// A reply or progress report: the token, then the values.
    void sendTokenMessage(MessageKind kind, const Token& token, std::vector<std::string> values);
    /// Queues the pieces of encoded messages, moving them, unless the channel is closed; says
    /// whether it did.
    bool queue(std::span<std::string> pieces);
    void read();
    /// Runs the commands in the read buffer until it is empty or the channel is congested, and
    /// writes their replies; then reads more, or waits for room. On the executor.
    void processInput();
    /// Writes what the socket takes; waits for room for the rest, or drops a client past its cap.
    void flush();
    /// Writes queued bytes while the socket takes them. Call with the outgoing lock held.
    void flushLocked();
    /// Flushes each time the socket has room, until the queue is empty. On the executor.
    void waitForRoom();
    bool congested() const;

    boost::asio::ip::tcp::socket socket_;
    const ChannelLimits limits_;
    const ChannelCallbacks callbacks_;
    boost::asio::steady_timer helloTimer_;
    const int id_;
    std::string peer_;
    MessageDecoder decoder_;
    std::string readBuffer_;
    std::size_t readStart_ = 0; ///< the first byte of `readBuffer_` not decoded yet
    std::size_t readEnd_ = 0;
    bool readPaused_ = false; ///< on the executor only
    std::mutex outgoingMutex_;
    std::deque<std::string> outgoing_; ///< messages, or pieces of them; the front one partly written
    std::size_t frontWritten_ = 0;     ///< the bytes of the front piece already written
    std::atomic<std::size_t> unsent_{0};
    bool waitingForRoom_ = false;
    std::atomic<bool> flushHandedOver_{false};
    std::atomic<bool> closed_{false};
    std::atomic<bool> helloReceived_{false};
};

} // namespace hil::tcf
