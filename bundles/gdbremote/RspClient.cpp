// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbremote/RspClient.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/common/Errors.h"
#include "platform/tcf/HeldReplies.h"

namespace hil::gdbremote {

namespace {

constexpr int kSendAttempts = 3;
constexpr char kInterrupt = 0x03;
/// What a client of a GDB server offers in `qSupported`.
constexpr const char* kClientFeatures = "qSupported:multiprocess+;swbreak+;hwbreak+;vContSupported+;xmlRegisters=arm";

/// The packet's name for messages: its text up to the first argument, at most 24 characters.
std::string millis(std::chrono::milliseconds duration) { return std::to_string(duration.count()) + " ms"; }

/// Releases the waiting flag of a request however it ends.
struct AwaitingReply {
    bool& flag;
    explicit AwaitingReply(bool& f) : flag(f) { flag = true; }
    ~AwaitingReply() { flag = false; }
};

} // namespace

RspClient::RspClient(const std::string& host, std::uint16_t port, Options options)
    : options_(options), endpoint_(host + ":" + std::to_string(port)), reader_(options.maxPacketBytes)
{
    connectSocket(host, port);
    try {
        negotiate();
    } catch (...) {
        ::close(socket_);
        throw;
    }
}

RspClient::~RspClient()
{
    {
        std::lock_guard lock(mutex_);
        lost_ = lossReported_ = true;
        onOutput_ = nullptr;
        onStop_ = nullptr;
        onLost_ = nullptr;
    }
    ::shutdown(socket_, SHUT_RDWR);
    if (watcher_.joinable())
        watcher_.join();
    ::close(socket_);
}

void RspClient::connectSocket(const std::string& host, std::uint16_t port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); error != 0)
        throw TargetLostError("Cannot resolve GDB server host " + host + ": " + gai_strerror(error));
    std::string problem = "no address";
    for (auto* address = found; address; address = address->ai_next) {
        const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            continue;
        int result = ::connect(fd, address->ai_addr, address->ai_addrlen);
        if (result < 0 && errno == EINPROGRESS) {
            pollfd waiting{fd, POLLOUT, 0};
            result = ::poll(&waiting, 1, static_cast<int>(options_.timeout.count()));
            int error = result == 0 ? ETIMEDOUT : 0;
            socklen_t size = sizeof error;
            if (result > 0)
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            errno = error;
            result = error == 0 ? 0 : -1;
        }
        if (result == 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            socket_ = fd;
            break;
        }
        problem = std::strerror(errno);
        ::close(fd);
    }
    ::freeaddrinfo(found);
    if (socket_ < 0)
        throw TargetLostError("Cannot connect to the GDB server at " + endpoint_ + ": " + problem);
}

void RspClient::negotiate()
{
    std::string reply;
    try {
        reply = request(kClientFeatures);
    } catch (const TargetLostError&) {
        throw TargetLostError("The server at " + endpoint_ + " is not a GDB server: " + lostReason_);
    }
    if (reply.empty() || rsp::isErrorReply(reply))
        throw TargetLostError("The server at " + endpoint_ + " is not a GDB server: it does not answer qSupported");
    features_ = rsp::parseFeatures(reply);
    if (const auto size = features_.find("PacketSize"); size != features_.end())
        if (const auto value = rsp::parseHexNumber(size->second); value && *value >= 64)
            packetSize_ = static_cast<std::size_t>(std::min<std::uint64_t>(*value, options_.maxPacketBytes));
    if (supports("QStartNoAckMode") && request("QStartNoAckMode") == "OK")
        ackMode_ = false;
}

bool RspClient::supports(const std::string& feature) const
{
    const auto found = features_.find(feature);
    return found != features_.end() && found->second == "+";
}

void RspClient::setOutputHandler(OutputHandler handler)
{
    std::lock_guard lock(mutex_);
    onOutput_ = std::move(handler);
}

void RspClient::setStopHandler(StopHandler handler)
{
    std::lock_guard lock(mutex_);
    onStop_ = std::move(handler);
}

void RspClient::setLostHandler(LostHandler handler)
{
    std::lock_guard lock(mutex_);
    onLost_ = std::move(handler);
}

bool RspClient::running() const
{
    // Running until its stop has been announced: whoever asks after the stop reply came but
    // before the stop handler has run would otherwise act on a stop nobody has heard of yet.
    std::lock_guard lock(mutex_);
    return running_ || announcingStop_;
}

bool RspClient::lost() const
{
    std::lock_guard lock(mutex_);
    return lost_;
}

void RspClient::throwLost() const
{
    throw TargetLostError("The GDB server at " + endpoint_ + " is lost: " + lostReason_);
}

void RspClient::markLost(const std::string& reason)
{
    LostHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (lossReported_)
            return;
        lossReported_ = true;
        lostReason_ = reason;
        handler = onLost_;
    }
    ::shutdown(socket_, SHUT_RDWR);
    // The handler hears of the loss before any request fails with it.
    if (handler)
        handler(reason);
    {
        std::lock_guard lock(mutex_);
        lost_ = true;
    }
    changed_.notify_all();
}

void RspClient::sendRaw(const std::string& bytes)
{
    std::lock_guard lock(sendMutex_);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto written = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // the next read finds the socket closed and reports it
        sent += static_cast<std::size_t>(written);
    }
}

std::string RspClient::exchange(const std::string& packet, bool wantReply, std::unique_lock<std::mutex>& lock)
{
    const std::string framed = rsp::frame(packet);
    // Only '?' is answered with a stop reply; one that comes otherwise is the state the server
    // was in when we connected.
    const bool stopAnswers = packet == "?";
    for (int attempt = 1;; ++attempt) {
        acks_ = naks_ = 0;
        lock.unlock();
        sendRaw(framed);
        lock.lock();
        const auto deadline = Clock::now() + options_.timeout;
        for (;;) {
            while (wantReply && !replies_.empty()) {
                std::string reply = std::move(replies_.front());
                replies_.pop_front();
                if (stopAnswers || !rsp::isStopReply(reply))
                    return reply;
            }
            if (lost_)
                throwLost();
            if (naks_ > 0)
                break;
            if (!wantReply && (acks_ > 0 || !ackMode_))
                return {};
            if (Clock::now() >= deadline) {
                lock.unlock();
                markLost((wantReply ? "no reply to " : "no acknowledgement of ") + rsp::describeRequest(packet) + " within " +
                         millis(options_.timeout));
                lock.lock();
                throwLost();
            }
            // This thread reads the reply itself: handing it over from a reader thread costs a
            // wake-up per packet, which is most of a round trip on a busy machine.
            lock.unlock();
            readSome(deadline);
            lock.lock();
        }
        if (attempt == kSendAttempts) {
            lock.unlock();
            markLost(rsp::describeRequest(packet) + " was refused (NAK) " + std::to_string(kSendAttempts) + " times");
            lock.lock();
            throwLost();
        }
    }
}

void RspClient::checkIdle(const std::string& what) const
{
    std::lock_guard lock(mutex_);
    if (lost_)
        throwLost();
    if (running_)
        throw StateError(ErrorCode::TargetRunning,
                         "The target is running: " + what + " needs it halted (special halt, then try again)");
}

std::string RspClient::request(const std::string& packet)
{
    // Locks in one order everywhere: request, socket, state.
    std::lock_guard serial(requestMutex_);
    checkIdle(rsp::describeRequest(packet));
    std::lock_guard io(ioMutex_);
    std::unique_lock lock(mutex_);
    replies_.clear();
    AwaitingReply awaiting(awaitingReply_);
    return exchange(packet, true, lock);
}

std::string RspClient::monitor(const std::string& command)
{
    std::lock_guard serial(requestMutex_);
    checkIdle("a monitor command");
    std::lock_guard io(ioMutex_);
    std::unique_lock lock(mutex_);
    replies_.clear();
    std::string output;
    monitorOutput_ = &output;
    AwaitingReply awaiting(awaitingReply_);
    struct Release {
        std::string*& slot;
        ~Release() { slot = nullptr; }
    } release{monitorOutput_};
    const std::string reply = exchange("qRcmd," + rsp::toHex(command), true, lock);
    if (reply == "OK")
        return output;
    if (reply.empty())
        throw TargetError("The GDB server at " + endpoint_ + " has no monitor commands");
    if (rsp::isErrorReply(reply))
        throw RspRefused("The monitor command \"" + command + "\" failed: error 0x" + reply.substr(1),
                         rsp::errorNumber(reply));
    // Servers that answer in one packet send the hex of the whole output.
    if (const auto text = rsp::fromHex(reply))
        return output + *text;
    return output + reply;
}

void RspClient::resume(const std::string& packet)
{
    std::lock_guard serial(requestMutex_);
    {
        std::lock_guard lock(mutex_);
        if (lost_)
            throwLost();
        if (running_)
            return;
    }
    {
        std::lock_guard io(ioMutex_);
        std::unique_lock lock(mutex_);
        sendRunPacket(packet, lock);
        if (!running_)
            return; // stopped at once, and its stop reply has been read
    }
    startWatcher();
}

void RspClient::sendRunPacket(const std::string& packet, std::unique_lock<std::mutex>& lock)
{
    // Running before the packet leaves: a quick stop reply must find it so.
    running_ = true;
    try {
        exchange(packet, false, lock);
    } catch (...) {
        running_ = false;
        throw;
    }
}

void RspClient::startWatcher()
{
    if (watcher_.joinable())
        watcher_.join(); // the last run's watcher, done since that run stopped
    watcher_ = std::thread([this] { watch(); });
}

bool RspClient::runToStop(const std::string& packet, std::chrono::milliseconds timeout)
{
    std::lock_guard serial(requestMutex_);
    {
        std::lock_guard io(ioMutex_);
        std::unique_lock lock(mutex_);
        if (lost_)
            throwLost();
        if (running_)
            return false;
        sendRunPacket(packet, lock);
        const auto deadline = Clock::now() + timeout;
        while ((running_ || announcingStop_) && !lost_ && Clock::now() < deadline) {
            lock.unlock();
            readSome(deadline);
            lock.lock();
        }
        if (lost_)
            throwLost();
        if (!running_)
            return true;
    }
    startWatcher();
    return false;
}

void RspClient::interrupt()
{
    std::lock_guard serial(requestMutex_);
    {
        std::lock_guard lock(mutex_);
        if (lost_)
            throwLost();
        if (!running_)
            return;
    }
    sendRaw(std::string(1, kInterrupt));
    if (!waitForStop(options_.timeout)) {
        markLost("no stop reply within " + millis(options_.timeout) + " of an interrupt");
        throwLost();
    }
}

bool RspClient::waitForStop(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return lost_ || (!running_ && !announcingStop_); });
    if (lost_)
        throwLost();
    return !running_;
}

void RspClient::checkOk(const std::string& reply, const std::string& what)
{
    if (reply == "OK")
        return;
    if (rsp::isErrorReply(reply))
        throw RspRefused(what + " failed: error 0x" + reply.substr(1), rsp::errorNumber(reply));
    throw TargetError(what + " failed: the server answered \"" + reply.substr(0, 40) + "\"");
}

bool RspClient::readSome(Clock::time_point deadline)
{
    // The server may take a while: the replies to the commands ahead of this one need not wait.
    tcf::sendHeldReplies();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd readable{socket_, POLLIN, 0};
    const int ready = ::poll(&readable, 1, static_cast<int>(std::max<std::int64_t>(left, 0)));
    if (ready == 0)
        return false;
    if (ready < 0)
        return errno == EINTR;
    char buffer[16384];
    const auto received = ::recv(socket_, buffer, sizeof buffer, 0);
    if (received < 0 && errno == EINTR)
        return true;
    if (received <= 0) {
        markLost("the server closed the connection");
        return true;
    }
    try {
        consume(std::string_view(buffer, static_cast<std::size_t>(received)));
    } catch (const std::exception& error) {
        markLost(error.what());
    }
    return true;
}

void RspClient::watch()
{
    std::lock_guard io(ioMutex_);
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (lost_ || lossReported_ || !running_)
                return;
        }
        readSome(Clock::now() + std::chrono::milliseconds(200));
    }
}

void RspClient::consume(std::string_view bytes)
{
    using Kind = rsp::PacketReader::Kind;
    for (auto& item : reader_.feed(bytes)) {
        switch (item.kind) {
        case Kind::Ack:
        case Kind::Nak: {
            std::lock_guard lock(mutex_);
            ++(item.kind == Kind::Ack ? acks_ : naks_); // the thread that waits for them reads them
            break;
        }
        case Kind::Packet:
        case Kind::BadChecksum:
            if (ackMode_)
                sendRaw(item.kind == Kind::Packet ? "+" : "-");
            if (item.kind == Kind::Packet)
                dispatch(std::move(item.payload));
            break;
        case Kind::Notification: // neither acknowledged nor used
        case Kind::Interrupt:    // a server's stray byte
            break;
        }
    }
}

void RspClient::dispatch(std::string packet)
{
    std::unique_lock lock(mutex_);
    if (rsp::isOutputPacket(packet)) {
        const std::string text = rsp::fromHex(std::string_view(packet).substr(1)).value_or("");
        if (monitorOutput_) {
            *monitorOutput_ += text;
        } else if (auto handler = onOutput_) {
            lock.unlock();
            handler(text);
        }
        return;
    }
    if (running_) {
        if (const auto stop = rsp::parseStopReply(packet)) {
            running_ = false;
            // An interrupt returns once the stop is announced: its caller's reply then follows
            // the stop's message, never precedes it.
            announcingStop_ = true;
            auto handler = onStop_;
            lock.unlock();
            if (handler)
                handler(*stop);
            lock.lock();
            announcingStop_ = false;
            lock.unlock();
            changed_.notify_all();
        }
        return; // nothing else is expected while the target runs
    }
    if (!awaitingReply_)
        return; // an unsolicited stop reply on connect, or a reply nobody waits for any more
    replies_.push_back(std::move(packet));
    changed_.notify_all();
}

} // namespace hil::gdbremote
