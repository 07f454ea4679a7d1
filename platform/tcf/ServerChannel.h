#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "platform/tcf/ICommandChannel.h"
#include "platform/tcf/MessageCodec.h"

namespace hil::tcf {

class TcfServer;

/// One client connection of the server. Reads run on the server's thread; `send` may be called
/// from any thread: it writes what the socket takes at once and queues the rest, which goes out
/// as soon as the socket has room. Nothing waits for the client.
///
/// What a client costs is bounded: while more than the server's read-pause limit of output is
/// unsent, the channel runs no more of its commands (a client that pipelines requests faster than
/// it reads the replies is slowed, not dropped); past the outgoing cap, which only events can
/// reach then, the client is dropped. Bytes already written are freed message by message.
class ServerChannel : public ICommandChannel, public std::enable_shared_from_this<ServerChannel> {
public:
    ServerChannel(TcfServer& server, boost::asio::ip::tcp::socket socket, int id);

    int getChannelId() const override { return id_; }
    void sendReply(const Token& token, const std::vector<std::string>& values) override;
    void sendProgress(const Token& token, const std::vector<std::string>& values) override;

    /// Sends encoded bytes, queueing what the socket does not take; drops the client when its
    /// queue passes the cap. Any thread.
    void send(std::string bytes);
    /// Starts reading, and the clock within which the client must say Hello. Server's thread.
    void startReading();
    /// Closes the socket and tells the server, once. Any thread.
    void close(const std::string& reason);

    bool isClosed() const { return closed_; }
    bool helloReceived() const { return helloReceived_; }
    /// Server's thread.
    void markHelloReceived();
    const std::string& peer() const { return peer_; }

private:
    /// A reply or progress report: the token, then the values.
    void sendTokenMessage(MessageKind kind, const Token& token, const std::vector<std::string>& values);
    void read();
    /// Runs the commands in the read buffer until it is empty or the channel is congested; then
    /// reads more, or waits for room. Server's thread.
    void processInput();
    /// Writes queued bytes while the socket takes them. Call with the outgoing lock held.
    void flushLocked();
    /// Flushes each time the socket has room, until the queue is empty. Server's thread.
    void waitForRoom();
    bool congested() const;

    TcfServer& server_;
    boost::asio::ip::tcp::socket socket_;
    boost::asio::steady_timer helloTimer_;
    const int id_;
    std::string peer_;
    MessageDecoder decoder_;
    std::string readBuffer_;
    std::size_t readStart_ = 0; ///< the first byte of `readBuffer_` not decoded yet
    std::size_t readEnd_ = 0;
    bool readPaused_ = false; ///< server's thread only
    std::mutex outgoingMutex_;
    std::deque<std::string> outgoing_; ///< whole messages; the front one partly written
    std::size_t frontWritten_ = 0;     ///< the bytes of the front message already written
    std::atomic<std::size_t> unsent_{0};
    bool waitingForRoom_ = false;
    std::atomic<bool> closed_{false};
    std::atomic<bool> helloReceived_{false};
};

} // namespace hil::tcf
