// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "platform/tcf/ICommandChannel.h"
#include "platform/tcf/MessageCodec.h"
#include "platform/tcf/Protocol.h"
#include "platform/tcf/RoomWatch.h"

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

/// Where a channel hands each message it reads, and says it has closed: both on the channel's
/// thread, the second once.
struct ChannelCallbacks {
    std::function<void(const std::shared_ptr<ServerChannel>& channel, Message&& message)> onMessage;
    std::function<void(const std::shared_ptr<ServerChannel>& channel)> onClosed;
};

/// One client connection of the server, with a thread of its own that reads the socket and runs
/// the commands as they come: a blocking read wakes the thread that will run the command, where
/// an event loop shared by several clients wakes to be told and then reads. `send` may be called
/// from any thread: it writes what the socket takes at once and queues the rest, which the room
/// watch writes out as soon as the socket has room. Nothing waits for the client. The replies to
/// the commands one read brought in go out together, in one write, once those commands have run
/// (or sooner, when a command is about to wait on something slow: `sendHeldReplies`); progress
/// reports and events at once.
///
/// Every event sent after the channel opened reaches its client: the client counts itself
/// connected once it has our Hello, which we send as the channel opens, so the events that come
/// before the client's own Hello are held and go out right after it.
///
/// What a client costs is bounded: while more than the read-pause limit of output is
/// unsent, the channel runs no more of its commands (a client that pipelines requests faster than
/// it reads the replies is slowed, not dropped); past the outgoing cap, which only events can
/// reach then, the client is dropped. Bytes already written are freed piece by piece.
class ServerChannel : public ICommandChannel, public RoomWatch::Waiter, public std::enable_shared_from_this<ServerChannel> {
public:
    /// Takes `socket`, a connected descriptor, and closes it once the channel has closed.
    ServerChannel(int socket, std::string peer, int id, const ChannelLimits& limits, ChannelCallbacks callbacks,
                  RoomWatch& roomWatch);
    ~ServerChannel();
    ServerChannel(const ServerChannel&) = delete;
    ServerChannel& operator=(const ServerChannel&) = delete;

    int getChannelId() const override { return id_; }
    void sendReply(const Token& token, std::vector<std::string> values) override;
    void sendProgress(const Token& token, const std::vector<std::string>& values) override;

    /// Sends encoded bytes, queueing what the socket does not take; drops the client when its
    /// queue passes the cap. Any thread.
    void send(std::string bytes);
    /// Sends an encoded event as `send` does; before the client's Hello, holds it until then.
    /// Any thread.
    void sendEvent(std::string bytes);
    /// Reads and runs the client's commands until the channel closes, then closes the socket and
    /// calls `onClosed`. The clock within which the client must say Hello starts here. Run it on
    /// the channel's own thread.
    void run();
    /// Ends the channel: its thread stops reading and calls `onClosed`. Any thread; once.
    void close(const std::string& reason);

    bool isClosed() const { return closed_; }
    bool helloReceived() const { return helloReceived_; }
    /// Releases the events held until now, ahead of any sent later. On the channel's thread,
    /// which flushes them with the replies of its read.
    void markHelloReceived();
    const std::string& peer() const { return peer_; }

private:
    /// A reply or progress report: the token, then the values.
    void sendTokenMessage(MessageKind kind, const Token& token, std::vector<std::string> values);
    /// Queues the pieces of encoded messages, moving them, unless the channel is closed; says
    /// whether it did.
    bool queue(std::span<std::string> pieces);
    /// Runs the commands in the read buffer until it is empty, waiting for room whenever the
    /// channel is congested, and writes their replies. On the channel's thread.
    void processInput();
    /// Writes what the socket takes; leaves the rest to the room watch, or drops a client past
    /// its cap.
    void flush();
    /// Writes queued bytes while the socket takes them. Call with the outgoing lock held. When
    /// the socket failed, lets the output go and returns why; else an empty text.
    std::string flushLocked();
    /// Lets all queued output go. Call with the outgoing lock held.
    void dropOutputLocked();
    void onRoom() override;
    bool congested() const;
    friend void sendHeldReplies();

    int socket_; ///< -1 once closed; changes under the outgoing lock
    const std::string peer_;
    const ChannelLimits limits_;
    const ChannelCallbacks callbacks_;
    RoomWatch& roomWatch_;
    const int id_;
    MessageDecoder decoder_;
    std::string readBuffer_;
    std::size_t readStart_ = 0; ///< the first byte of `readBuffer_` not decoded yet
    std::size_t readEnd_ = 0;
    /// The output; taken after the server's channel list, before the room watch's lock.
    std::mutex outgoingMutex_;
    std::condition_variable roomMade_; ///< with the outgoing lock: the unsent output shrank
    std::deque<std::string> outgoing_; ///< messages, or pieces of them; the front one partly written
    std::deque<std::string> heldEvents_; ///< until the client's Hello; under the outgoing lock
    std::size_t heldBytes_ = 0;          ///< of `heldEvents_`; not in `unsent_`, as none can be written yet
    std::size_t frontWritten_ = 0;     ///< the bytes of the front piece already written
    std::atomic<std::size_t> unsent_{0};
    bool waitingForRoom_ = false; ///< under the outgoing lock
    std::atomic<bool> closed_{false};
    std::atomic<bool> helloReceived_{false}; ///< set under the outgoing lock
};

} // namespace hil::tcf
