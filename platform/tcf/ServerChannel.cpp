// SPDX-License-Identifier: Apache-2.0
#include "platform/tcf/ServerChannel.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <boost/asio/post.hpp>

#include "platform/common/BackendLogger.h"

namespace hil::tcf {

namespace {
constexpr std::size_t kReadChunk = 64 * 1024;
/// Queued pieces handed to one system call: many small events go out in one write.
constexpr std::size_t kMessagesPerWrite = 64;

/// The channel whose commands this thread is running, as they came in one read.
thread_local const ServerChannel* channelReadOnThisThread = nullptr;

/// The event loop this thread runs channels for, if it is a network thread.
thread_local const boost::asio::execution_context* channelsOfThisThread = nullptr;

/// Marks the channel being read for as long as it lives.
class ReadingChannel {
public:
    explicit ReadingChannel(const ServerChannel* channel) { channelReadOnThisThread = channel; }
    ~ReadingChannel() { channelReadOnThisThread = nullptr; }
    ReadingChannel(const ReadingChannel&) = delete;
    ReadingChannel& operator=(const ReadingChannel&) = delete;
};
} // namespace

ServerChannel::ServerChannel(boost::asio::ip::tcp::socket socket, int id, const ChannelLimits& limits,
                             ChannelCallbacks callbacks)
    : socket_(std::move(socket)), limits_(limits), callbacks_(std::move(callbacks)),
      helloTimer_(socket_.get_executor()), id_(id), decoder_(limits.maxMessageBytes, limits.maxMessageFields)
{
    boost::system::error_code error;
    const auto endpoint = socket_.remote_endpoint(error);
    peer_ = error ? "unknown peer" : endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
    socket_.set_option(boost::asio::ip::tcp::no_delay(true), error);
}

void ServerChannel::sendReply(const Token& token, std::vector<std::string> values)
{
    sendTokenMessage(MessageKind::Reply, token, std::move(values));
}

void ServerChannel::sendProgress(const Token& token, const std::vector<std::string>& values)
{
    sendTokenMessage(MessageKind::Progress, token, values);
}

void ServerChannel::sendTokenMessage(MessageKind kind, const Token& token, std::vector<std::string> values)
{
    // Moved, not copied: a reply may carry megabytes of memory contents, which go out as they are.
    values.insert(values.begin(), token.text());
    auto pieces = encodeMessagePieces(kind, std::move(values));
    // The reply to a command of the read this thread is running goes out with the others of that
    // read, once they have run: one write for all. A progress report is news now.
    if (queue(pieces) && (kind == MessageKind::Progress || channelReadOnThisThread != this))
        flush();
}

void ServerChannel::runsChannelsOf(const boost::asio::execution_context& events) { channelsOfThisThread = &events; }

void ServerChannel::send(std::string bytes)
{
    if (!queue({&bytes, 1}))
        return;
    // Whoever sends writes what the socket takes at once: no thread has to wake up for it. But a
    // network thread leaves another's channels to it: the thread running a command that changes
    // memory would otherwise write every client's event, and its own clients would wait for that.
    if (channelsOfThisThread == nullptr || channelsOfThisThread == &socket_.get_executor().context())
        flush();
    else if (!flushHandedOver_.exchange(true))
        boost::asio::post(socket_.get_executor(), [self = shared_from_this()] {
            self->flushHandedOver_ = false;
            self->flush();
        });
}

bool ServerChannel::queue(std::span<std::string> pieces)
{
    if (closed_)
        return false;
    std::lock_guard lock(outgoingMutex_);
    if (closed_)
        return false;
    for (auto& piece : pieces)
        if (!piece.empty()) {
            unsent_ += piece.size();
            outgoing_.push_back(std::move(piece));
        }
    return true;
}

void ServerChannel::flush()
{
    bool overflow = false;
    bool startWaiting = false;
    {
        std::lock_guard lock(outgoingMutex_);
        flushLocked();
        overflow = unsent_ > limits_.maxOutgoingBytes;
        if (!overflow && unsent_ != 0 && !waitingForRoom_ && !closed_)
            startWaiting = waitingForRoom_ = true;
    }
    if (overflow) {
        close("its unsent output passed " + std::to_string(limits_.maxOutgoingBytes) +
              " bytes: it stopped reading");
        return;
    }
    if (startWaiting)
        boost::asio::post(socket_.get_executor(), [self = shared_from_this()] { self->waitForRoom(); });
}

void ServerChannel::flushLocked()
{
    // The socket is closed under the same lock, so its descriptor cannot change meanwhile.
    while (!outgoing_.empty()) {
        iovec parts[kMessagesPerWrite];
        std::size_t count = 0;
        std::size_t offered = 0;
        for (auto message = outgoing_.begin(); message != outgoing_.end() && count < kMessagesPerWrite; ++message) {
            const std::size_t skip = count == 0 ? frontWritten_ : 0;
            parts[count++] = {message->data() + skip, message->size() - skip};
            offered += message->size() - skip;
        }
        msghdr header{};
        header.msg_iov = parts;
        header.msg_iovlen = count;
        const ssize_t written = ::sendmsg(socket_.native_handle(), &header, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (written <= 0)
            return; // full, or failed: a failed socket also fails its read, which closes the channel
        auto left = static_cast<std::size_t>(written);
        unsent_ -= left;
        // Each message is freed as soon as it is written whole.
        while (left != 0) {
            const std::size_t rest = outgoing_.front().size() - frontWritten_;
            if (left < rest) {
                frontWritten_ += left;
                break;
            }
            left -= rest;
            outgoing_.pop_front();
            frontWritten_ = 0;
        }
        if (static_cast<std::size_t>(written) < offered)
            return; // the socket is full
    }
}

bool ServerChannel::congested() const { return unsent_ > limits_.readPauseBytes; }

void ServerChannel::waitForRoom()
{
    socket_.async_wait(boost::asio::ip::tcp::socket::wait_write, [self = shared_from_this()](const boost::system::error_code& error) {
        if (error)
            return; // closed
        bool more = false;
        {
            std::lock_guard lock(self->outgoingMutex_);
            self->flushLocked();
            more = !self->outgoing_.empty() && !self->closed_;
            self->waitingForRoom_ = more;
        }
        if (more)
            self->waitForRoom();
        if (self->readPaused_ && !self->congested() && !self->closed_) {
            self->readPaused_ = false;
            self->processInput();
        }
    });
}

void ServerChannel::startReading()
{
    readBuffer_.resize(kReadChunk);
    helloTimer_.expires_after(limits_.helloTimeout);
    helloTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
        if (!error && !self->helloReceived_)
            self->close("it sent no Hello within " + std::to_string(self->limits_.helloTimeout.count()) + " ms");
    });
    read();
}

void ServerChannel::markHelloReceived()
{
    helloReceived_ = true;
    helloTimer_.cancel();
}

void ServerChannel::read()
{
    socket_.async_read_some(
        boost::asio::buffer(readBuffer_), [self = shared_from_this()](const boost::system::error_code& error, std::size_t n) {
            if (error) {
                self->close(error == boost::asio::error::eof ? "client closed the connection" : error.message());
                return;
            }
            self->readStart_ = 0;
            self->readEnd_ = n;
            self->processInput();
        });
}

void ServerChannel::processInput()
{
    const auto self = shared_from_this();
    for (;;) {
        try {
            const ReadingChannel reading(this);
            readStart_ += decoder_.feedWhile(
                std::string_view(readBuffer_.data() + readStart_, readEnd_ - readStart_),
                [&](Message&& message) { callbacks_.onMessage(self, std::move(message)); },
                [&] { return !closed_ && !congested(); });
        } catch (const DecodeError& decodeError) {
            flush(); // the replies to the commands before the bad bytes
            close(std::string("malformed input: ") + decodeError.what());
            return;
        }
        flush();
        if (decoder_.atEndOfStream()) {
            close("client ended the stream");
            return;
        }
        if (closed_)
            return;
        // Replies pile up faster than the client reads them: run nothing more of it until they went.
        if (congested()) {
            readPaused_ = true;
            return;
        }
        if (readStart_ == readEnd_)
            break;
    }
    read();
}

void ServerChannel::close(const std::string& reason)
{
    if (closed_.exchange(true))
        return;
    BackendLogger::info("tcf", "Channel " + std::to_string(id_) + " (" + peer_ + ") closed: " + reason);
    // The socket belongs to its executor's thread; closing it there cancels the pending read.
    boost::asio::post(socket_.get_executor(), [self = shared_from_this()] {
        boost::system::error_code ignored;
        self->helloTimer_.cancel();
        {
            std::lock_guard lock(self->outgoingMutex_);
            self->socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
            self->socket_.close(ignored);
            self->outgoing_.clear();
            self->unsent_ = 0;
        }
        self->callbacks_.onClosed(self);
    });
}

} // namespace hil::tcf
