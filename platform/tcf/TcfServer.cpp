// SPDX-License-Identifier: Apache-2.0
#include "platform/tcf/TcfServer.h"

#include <cerrno>
#include <cstring>

#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/json.hpp>

#include "platform/common/BackendLogger.h"
#include "platform/common/ThreadName.h"
#include "platform/tcf/ServerChannel.h"

namespace hil::tcf {

namespace {
const std::string kLocator = "Locator";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerAllocator = true;
#elif defined(__has_feature)
constexpr bool kSanitizerAllocator = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kSanitizerAllocator = false;
#endif

/// The allocator keeps what a client's commands freed, up to its trim threshold, for as long as
/// the process runs: a back-end that serves clients for weeks gives it back as each goes. Under
/// a sanitizer, whose allocator replaces the C library's, there is nothing of the C library's to
/// trim, and its trim would walk arenas that were never set up.
void giveFreedMemoryBack()
{
    if constexpr (!kSanitizerAllocator)
        ::malloc_trim(0);
}
} // namespace

TcfServer::TcfServer(Limits limits) : limits_(limits) {}

TcfServer::~TcfServer() { stop(); }

void TcfServer::registerService(const std::string& name, CommandHandler handler) { services_[name] = std::move(handler); }

void TcfServer::setChannelClosedHandler(ChannelClosedHandler handler) { channelClosed_ = std::move(handler); }

std::uint16_t TcfServer::start(const std::string& address, std::uint16_t port)
{
    boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address(address), port);
    const auto fail = [&](const char* what) {
        const boost::system::error_code error(errno, boost::system::system_category());
        if (listener_ >= 0)
            ::close(std::exchange(listener_, -1));
        throw boost::system::system_error(error, what);
    };
    listener_ = ::socket(endpoint.protocol().family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        fail("socket");
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listener_, endpoint.data(), static_cast<socklen_t>(endpoint.size())) != 0)
        fail("bind");
    if (::listen(listener_, SOMAXCONN) != 0)
        fail("listen");
    auto length = static_cast<socklen_t>(endpoint.capacity());
    if (::getsockname(listener_, endpoint.data(), &length) != 0)
        fail("getsockname");
    endpoint.resize(length);
    acceptor_ = std::thread([this] { acceptAll(); });
    return endpoint.port();
}

void TcfServer::stop()
{
    if (stopped_)
        return;
    stopped_ = true;
    if (acceptor_.joinable()) {
        // Wakes the accepting thread, which ends.
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        ::close(listener_);
        {
            std::lock_guard lock(channelsMutex_);
            for (auto& [id, channel] : channels_)
                channel->close("the back-end is shutting down");
        }
        joinChannelThreads();
    }
    // The handlers hold the command servers: let them go now, not when this object does.
    services_.clear();
    channelClosed_ = nullptr;
}

void TcfServer::joinChannelThreads()
{
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(channelsMutex_);
            threads.swap(endedThreads_);
            for (auto& [id, thread] : channelThreads_)
                threads.push_back(std::move(thread));
            channelThreads_.clear();
        }
        if (threads.empty())
            return;
        for (auto& thread : threads)
            thread.join();
    }
}

void TcfServer::acceptAll()
{
    setCurrentThreadName("TCF accept");
    for (;;) {
        boost::asio::ip::tcp::endpoint peer;
        auto length = static_cast<socklen_t>(peer.capacity());
        const int socket = ::accept4(listener_, peer.data(), &length, SOCK_CLOEXEC);
        if (socket >= 0) {
            peer.resize(length);
            startChannel(socket, peer.address().to_string() + ":" + std::to_string(peer.port()));
        } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // Out of descriptors or memory for a moment: the clients that go give them back.
            BackendLogger::error("tcf", std::string("Cannot accept a connection: ") + std::strerror(errno));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } else if (errno != EINTR && errno != ECONNABORTED && errno != EPROTO) {
            return; // the listener was shut down
        }
    }
}

void TcfServer::startChannel(int socket, const std::string& peer)
{
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::shared_ptr<ServerChannel> channel;
    std::vector<std::thread> ended;
    {
        std::lock_guard lock(channelsMutex_);
        ended.swap(endedThreads_);
        limitWaitingForHelloLocked();
        channel = std::make_shared<ServerChannel>(
            socket, peer, nextChannelId_++, limits_,
            ChannelCallbacks{[this](const auto& from, Message&& message) { onMessage(from, std::move(message)); },
                             [this](const auto& closed) { onChannelClosed(closed); }},
            roomWatch_);
        channels_.emplace(channel->getChannelId(), channel);
    }
    // Those threads have run their channels' last step already: joining them takes no time.
    for (auto& thread : ended)
        thread.join();
    BackendLogger::info("tcf", "Channel " + std::to_string(channel->getChannelId()) + " opened by " + peer);
    channel->send(helloMessage());
    const auto runChannel = [this](std::shared_ptr<ServerChannel> running) {
        running->run();
        const int id = running->getChannelId();
        running.reset();
        giveFreedMemoryBack();
        // Its thread is joined by whoever comes next: the next accept, or `stop`.
        std::lock_guard lock(channelsMutex_);
        if (auto own = channelThreads_.extract(id))
            endedThreads_.push_back(std::move(own.mapped()));
    };
    try {
        // Started and recorded under one lock, so that the thread finds itself when it ends.
        std::lock_guard lock(channelsMutex_);
        channelThreads_.emplace(channel->getChannelId(), std::thread(runChannel, channel));
        return;
    } catch (const std::system_error& error) {
        channel->close(std::string("no thread for it: ") + error.what());
    }
    // Closed at once, its run only cleans up, here.
    runChannel(std::move(channel));
}

std::string TcfServer::helloMessage() const
{
    boost::json::array names{boost::json::string(kLocator)};
    for (const auto& [name, handler] : services_)
        names.emplace_back(name);
    return encodeMessage({MessageKind::Event, {kLocator, "Hello", boost::json::serialize(names)}});
}

void TcfServer::limitWaitingForHelloLocked()
{
    std::shared_ptr<ServerChannel> oldest;
    std::size_t waiting = 0;
    for (const auto& [id, channel] : channels_) {
        if (channel->helloReceived() || channel->isClosed())
            continue;
        if (!oldest)
            oldest = channel; // ids grow, so the first is the oldest
        ++waiting;
    }
    if (waiting >= limits_.maxClients)
        oldest->close("it sent no Hello, and " + std::to_string(waiting) + " connections are waiting for theirs");
}

void TcfServer::onHello(const std::shared_ptr<ServerChannel>& channel)
{
    if (channel->helloReceived())
        return;
    {
        // Counted and taken under one lock: two channels may read two Hellos at once.
        std::lock_guard lock(channelsMutex_);
        std::size_t clients = 0;
        for (const auto& [id, other] : channels_)
            clients += other->helloReceived() && !other->isClosed() ? 1 : 0;
        if (clients < limits_.maxClients) {
            channel->markHelloReceived();
            return;
        }
    }
    BackendLogger::error("tcf", "Refusing " + channel->peer() + ": already " + std::to_string(limits_.maxClients) +
                                    " clients");
    channel->close("the client limit is reached");
}

void TcfServer::onMessage(const std::shared_ptr<ServerChannel>& channel, Message&& message)
{
    auto& fields = message.fields;
    if (message.kind == MessageKind::Event) {
        if (fields[0] == kLocator && fields[1] == "Hello")
            onHello(channel);
        return;
    }
    if (message.kind != MessageKind::Command)
        return; // flow control, and replies to commands we never send
    const std::string& token = fields[0];
    const std::string& service = fields[1];
    const auto handler = services_.find(service);
    const bool syncRequest = service == kLocator && fields[2] == "sync";
    if (!channel->helloReceived() || (handler == services_.end() && !syncRequest)) {
        channel->send(encodeMessage({MessageKind::NotRecognised, {token}}));
        return;
    }
    // Run here, in arrival order: "sync" replies after every command sent before it.
    if (syncRequest) {
        channel->sendReply(Token(token), {});
        return;
    }
    // The arguments move on to the handler; only their pointers are copied.
    const std::vector<std::string> arguments(std::make_move_iterator(fields.begin() + 3),
                                             std::make_move_iterator(fields.end()));
    std::lock_guard commands(commandMutex_);
    handler->second(*channel, Token(token), fields[2], arguments);
}

void TcfServer::onChannelClosed(const std::shared_ptr<ServerChannel>& channel)
{
    {
        std::lock_guard lock(channelsMutex_);
        channels_.erase(channel->getChannelId());
    }
    std::lock_guard commands(commandMutex_);
    if (channelClosed_)
        channelClosed_(channel->getChannelId());
}

void TcfServer::sendEvent(const std::string& service, const std::string& name, const std::vector<std::string>& arguments)
{
    std::vector<std::string> fields{service, name};
    fields.insert(fields.end(), arguments.begin(), arguments.end());
    const std::string bytes = encodeMessage({MessageKind::Event, fields});
    std::vector<std::shared_ptr<ServerChannel>> targets;
    {
        std::lock_guard lock(channelsMutex_);
        targets.reserve(channels_.size());
        for (const auto& [id, channel] : channels_)
            targets.push_back(channel);
    }
    for (const auto& channel : targets)
        channel->sendEvent(bytes);
}

} // namespace hil::tcf
