// SPDX-License-Identifier: Apache-2.0
#include "platform/tcf/ServerChannel.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/common/BackendLogger.h"
#include "platform/tcf/HeldReplies.h"
#include "platform/common/ThreadName.h"

namespace hil::tcf {

namespace {
constexpr std::size_t kReadChunk = 64 * 1024;
/// Queued pieces handed to one system call: many small events go out in one write.
constexpr std::size_t kMessagesPerWrite = 64;

/// The channel whose commands this thread is running, as they came in one read.
thread_local ServerChannel* channelReadOnThisThread = nullptr;

/// Marks the channel being read for as long as it lives.
class ReadingChannel {
public:
    explicit ReadingChannel(ServerChannel* channel) { channelReadOnThisThread = channel; }
    ~ReadingChannel() { channelReadOnThisThread = nullptr; }
    ReadingChannel(const ReadingChannel&) = delete;
    ReadingChannel& operator=(const ReadingChannel&) = delete;
};

/// Makes a read on `socket` give up after `timeout`; zero waits for ever.
void setReadTimeout(int socket, std::chrono::microseconds timeout)
{
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
    limit.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000000);
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}
} // namespace

void sendHeldReplies()
{
    if (channelReadOnThisThread)
        channelReadOnThisThread->flush();
}

ServerChannel::ServerChannel(int socket, std::string peer, int id, const ChannelLimits& limits,
                             ChannelCallbacks callbacks, RoomWatch& roomWatch)
    : socket_(socket), peer_(std::move(peer)), limits_(limits), callbacks_(std::move(callbacks)), roomWatch_(roomWatch),
      id_(id), decoder_(limits.maxMessageBytes, limits.maxMessageFields)
{
}

ServerChannel::~ServerChannel()
{
    if (socket_ >= 0)
        ::close(socket_); // a channel whose thread never ran; else the thread closed it
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

void ServerChannel::send(std::string bytes)
{
    // Whoever sends writes what the socket takes at once: no thread has to wake up for it.
    if (queue({&bytes, 1}))
        flush();
}

void ServerChannel::sendEvent(std::string bytes)
{
    bool held = false;
    bool overflow = false;
    {
        std::lock_guard lock(outgoingMutex_);
        if (!closed_ && !helloReceived_) {
            heldBytes_ += bytes.size();
            heldEvents_.push_back(std::move(bytes));
            held = true;
            overflow = heldBytes_ > limits_.maxOutgoingBytes;
        }
    }
    if (!held)
        send(std::move(bytes));
    else if (overflow)
        close("its events passed " + std::to_string(limits_.maxOutgoingBytes) + " bytes before its Hello");
}

void ServerChannel::markHelloReceived()
{
    std::lock_guard lock(outgoingMutex_);
    helloReceived_ = true;
    unsent_ += std::exchange(heldBytes_, 0);
    for (auto& event : heldEvents_)
        outgoing_.push_back(std::move(event));
    heldEvents_.clear();
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
    std::string failure;
    {
        std::lock_guard lock(outgoingMutex_);
        failure = flushLocked();
        overflow = unsent_ > limits_.maxOutgoingBytes;
        if (!overflow && failure.empty() && unsent_ != 0 && !waitingForRoom_ && socket_ >= 0 && !closed_) {
            if (const int error = roomWatch_.watchOnce(socket_, shared_from_this()); error != 0)
                // Its output could wait for ever: better the client learns now that it is gone.
                failure = std::string("cannot wait for room to write to it: ") + std::strerror(error);
            else
                waitingForRoom_ = true;
        }
    }
    if (overflow)
        close("its unsent output passed " + std::to_string(limits_.maxOutgoingBytes) +
              " bytes: it stopped reading");
    else if (!failure.empty())
        close(failure);
}

std::string ServerChannel::flushLocked()
{
    // The socket is closed under the same lock, so its descriptor cannot change meanwhile.
    while (!outgoing_.empty() && socket_ >= 0) {
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
        const ssize_t written = ::sendmsg(socket_, &header, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            // Nothing more can reach this client: its commands need not run either.
            const std::string failure = std::string("cannot write to it: ") + std::strerror(errno);
            dropOutputLocked();
            return failure;
        }
        if (written <= 0)
            return {}; // the socket is full
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
            return {}; // the socket is full
    }
    return {};
}

void ServerChannel::dropOutputLocked()
{
    outgoing_.clear();
    frontWritten_ = 0;
    unsent_ = 0;
    heldEvents_.clear();
    heldBytes_ = 0;
}

bool ServerChannel::congested() const { return unsent_ > limits_.readPauseBytes; }

void ServerChannel::onRoom()
{
    {
        // The watch that called is spent: the flush asks for another if output is still left.
        std::lock_guard lock(outgoingMutex_);
        waitingForRoom_ = false;
    }
    flush();
    roomMade_.notify_all();
}

void ServerChannel::run()
{
    setCurrentThreadName("TCF");
    readBuffer_.resize(kReadChunk);
    const auto helloDeadline = std::chrono::steady_clock::now() + limits_.helloTimeout;
    bool timeoutSet = false;
    while (!closed_) {
        // Until the Hello came, a read gives up when its time is over.
        if (!helloReceived_) {
            const auto left = std::chrono::ceil<std::chrono::microseconds>(helloDeadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                close("it sent no Hello within " + std::to_string(limits_.helloTimeout.count()) + " ms");
                break;
            }
            setReadTimeout(socket_, left);
            timeoutSet = true;
        } else if (timeoutSet) {
            setReadTimeout(socket_, {});
            timeoutSet = false;
        }
        const ssize_t got = ::recv(socket_, readBuffer_.data(), readBuffer_.size(), 0);
        if (got > 0) {
            readStart_ = 0;
            readEnd_ = static_cast<std::size_t>(got);
            processInput();
        } else if (got == 0) {
            close("client closed the connection");
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            close(std::strerror(errno));
        }
    }
    {
        std::lock_guard lock(outgoingMutex_);
        roomWatch_.forget(socket_);
        ::close(socket_);
        socket_ = -1;
        dropOutputLocked();
    }
    callbacks_.onClosed(shared_from_this());
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
        if (closed_ || readStart_ == readEnd_)
            return;
        // Replies pile up faster than the client reads them: run nothing more of it until they went.
        std::unique_lock lock(outgoingMutex_);
        roomMade_.wait(lock, [&] { return closed_ || !congested(); });
    }
}

void ServerChannel::close(const std::string& reason)
{
    if (closed_.exchange(true))
        return;
    BackendLogger::info("tcf", "Channel " + std::to_string(id_) + " (" + peer_ + ") closed: " + reason);
    {
        // Wakes the channel's thread from its read; the thread closes the socket as it ends.
        std::lock_guard lock(outgoingMutex_);
        if (socket_ >= 0)
            ::shutdown(socket_, SHUT_RDWR);
    }
    roomMade_.notify_all();
}

} // namespace hil::tcf
