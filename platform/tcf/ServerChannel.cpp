#include "platform/tcf/ServerChannel.h"

#include <sys/socket.h>

#include <boost/asio/post.hpp>

#include "platform/common/BackendLogger.h"
#include "platform/tcf/TcfServer.h"

namespace hil::tcf {

namespace {
constexpr std::size_t kReadChunk = 64 * 1024;
}

ServerChannel::ServerChannel(TcfServer& server, boost::asio::ip::tcp::socket socket, int id)
    : server_(server), socket_(std::move(socket)), id_(id), decoder_(server.limits_.maxMessageBytes)
{
    boost::system::error_code error;
    const auto endpoint = socket_.remote_endpoint(error);
    peer_ = error ? "unknown peer" : endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
    socket_.set_option(boost::asio::ip::tcp::no_delay(true), error);
}

void ServerChannel::sendReply(const Token& token, const std::vector<std::string>& values)
{
    sendTokenMessage(MessageKind::Reply, token, values);
}

void ServerChannel::sendProgress(const Token& token, const std::vector<std::string>& values)
{
    sendTokenMessage(MessageKind::Progress, token, values);
}

void ServerChannel::sendTokenMessage(MessageKind kind, const Token& token, const std::vector<std::string>& values)
{
    // Views, not copies: a reply may carry megabytes of memory contents.
    const std::string tokenText = token.text();
    std::vector<std::string_view> fields;
    fields.reserve(values.size() + 1);
    fields.push_back(tokenText);
    fields.insert(fields.end(), values.begin(), values.end());
    std::string bytes;
    appendEncodedMessage(kind, fields, bytes);
    send(std::move(bytes));
}

void ServerChannel::send(std::string bytes)
{
    if (closed_)
        return;
    bool overflow = false;
    bool waitForRoom = false;
    {
        std::lock_guard lock(outgoingMutex_);
        if (closed_)
            return;
        // An empty queue takes the message as it is, without a copy.
        if (unsentBytes() == 0) {
            outgoing_.swap(bytes);
            sentOffset_ = 0;
        } else {
            outgoing_.append(bytes);
        }
        // Whoever sends writes what the socket takes at once: no thread has to wake up for it.
        flushLocked();
        overflow = unsentBytes() > server_.limits_.maxOutgoingBytes;
        if (!overflow && unsentBytes() != 0 && !waitingForRoom_)
            waitForRoom = waitingForRoom_ = true;
    }
    if (overflow) {
        close("its unsent output passed " + std::to_string(server_.limits_.maxOutgoingBytes) +
              " bytes: it stopped reading");
        return;
    }
    if (waitForRoom)
        boost::asio::post(server_.network_, [self = shared_from_this()] { self->waitForRoom(); });
}

void ServerChannel::flushLocked()
{
    // The socket is closed under the same lock, so its descriptor cannot change meanwhile.
    while (unsentBytes() != 0) {
        const ssize_t sent = ::send(socket_.native_handle(), outgoing_.data() + sentOffset_, unsentBytes(),
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent <= 0)
            break; // full, or failed: a failed socket also fails its read, which closes the channel
        sentOffset_ += static_cast<std::size_t>(sent);
    }
    if (unsentBytes() == 0) {
        outgoing_.clear();
        sentOffset_ = 0;
    }
}

void ServerChannel::waitForRoom()
{
    socket_.async_wait(boost::asio::ip::tcp::socket::wait_write, [self = shared_from_this()](const boost::system::error_code& error) {
        if (error)
            return; // closed
        std::lock_guard lock(self->outgoingMutex_);
        self->flushLocked();
        if (self->unsentBytes() == 0 || self->closed_) {
            self->waitingForRoom_ = false;
            return;
        }
        self->waitForRoom();
    });
}

void ServerChannel::startReading()
{
    readBuffer_.resize(kReadChunk);
    read();
}

void ServerChannel::read()
{
    socket_.async_read_some(
        boost::asio::buffer(readBuffer_), [self = shared_from_this()](const boost::system::error_code& error, std::size_t n) {
            if (error) {
                self->close(error == boost::asio::error::eof ? "client closed the connection" : error.message());
                return;
            }
            try {
                self->decoder_.feed(std::string_view(self->readBuffer_.data(), n), [&](Message&& message) {
                    self->server_.onMessage(self, std::move(message));
                });
            } catch (const DecodeError& decodeError) {
                self->close(std::string("malformed input: ") + decodeError.what());
                return;
            }
            if (self->decoder_.atEndOfStream()) {
                self->close("client ended the stream");
                return;
            }
            if (!self->closed_)
                self->read();
        });
}

void ServerChannel::close(const std::string& reason)
{
    if (closed_.exchange(true))
        return;
    BackendLogger::info("tcf", "Channel " + std::to_string(id_) + " (" + peer_ + ") closed: " + reason);
    // The socket belongs to the server's thread; closing it there cancels the pending read.
    boost::asio::post(server_.network_, [self = shared_from_this()] {
        boost::system::error_code ignored;
        std::lock_guard lock(self->outgoingMutex_);
        self->socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
        self->socket_.close(ignored);
        self->server_.onChannelClosed(self);
    });
}

} // namespace hil::tcf
