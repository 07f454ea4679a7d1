#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include <boost/asio/ip/tcp.hpp>

#include "platform/tcf/ICommandChannel.h"
#include "platform/tcf/MessageCodec.h"

namespace hil::tcf {

class TcfServer;

/// One client connection of the server. Reads run on the server's thread; `send` may be called
/// from any thread: it writes what the socket takes at once and queues the rest, which goes out
/// as soon as the socket has room. Nothing waits for the client.
class ServerChannel : public ICommandChannel, public std::enable_shared_from_this<ServerChannel> {
public:
    ServerChannel(TcfServer& server, boost::asio::ip::tcp::socket socket, int id);

    int getChannelId() const override { return id_; }
    void sendReply(const Token& token, const std::vector<std::string>& values) override;
    void sendProgress(const Token& token, const std::vector<std::string>& values) override;

    /// Sends encoded bytes, queueing what the socket does not take; drops the client when its
    /// queue passes the cap. Any thread.
    void send(std::string bytes);
    /// Starts reading. Network thread.
    void startReading();
    /// Closes the socket and tells the server, once. Any thread.
    void close(const std::string& reason);

    bool helloReceived() const { return helloReceived_; }
    void markHelloReceived() { helloReceived_ = true; }
    const std::string& peer() const { return peer_; }

private:
    /// A reply or progress report: the token, then the values.
    void sendTokenMessage(MessageKind kind, const Token& token, const std::vector<std::string>& values);
    void read();
    /// Writes queued bytes while the socket takes them. Call with the outgoing lock held.
    void flushLocked();
    /// Flushes each time the socket has room, until the queue is empty. Server's thread.
    void waitForRoom();
    std::size_t unsentBytes() const { return outgoing_.size() - sentOffset_; }

    TcfServer& server_;
    boost::asio::ip::tcp::socket socket_;
    const int id_;
    std::string peer_;
    MessageDecoder decoder_;
    std::string readBuffer_;
    std::mutex outgoingMutex_;
    std::string outgoing_;
    std::size_t sentOffset_ = 0; ///< the bytes of `outgoing_` already written
    bool waitingForRoom_ = false;
    std::atomic<bool> closed_{false};
    std::atomic<bool> helloReceived_{false};
};

} // namespace hil::tcf
