// SPDX-License-Identifier: Apache-2.0
#include "platform/tcf/TcfServer.h"

#include <algorithm>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/json.hpp>

#include "platform/common/BackendLogger.h"
#include "platform/common/ThreadName.h"
#include "platform/tcf/ServerChannel.h"

namespace hil::tcf {

namespace {
const std::string kLocator = "Locator";
}

std::size_t defaultNetworkThreads() { return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4); }

TcfServer::TcfServer(Limits limits) : limits_(limits), networkThreads_(makeNetworkThreads(limits.networkThreads)),
      acceptor_(networkThreads_.front()->events)
{
}

std::vector<std::unique_ptr<TcfServer::NetworkThread>> TcfServer::makeNetworkThreads(std::size_t count)
{
    std::vector<std::unique_ptr<NetworkThread>> threads;
    for (std::size_t i = 0; i < std::max<std::size_t>(count, 1); ++i)
        threads.push_back(std::make_unique<NetworkThread>());
    return threads;
}

TcfServer::~TcfServer() { stop(); }

void TcfServer::registerService(const std::string& name, CommandHandler handler) { services_[name] = std::move(handler); }

void TcfServer::setChannelClosedHandler(ChannelClosedHandler handler) { channelClosed_ = std::move(handler); }

std::uint16_t TcfServer::start(const std::string& address, std::uint16_t port)
{
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address(address), port);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(boost::asio::ip::tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
    accept();
    for (auto& network : networkThreads_)
        network->thread = std::thread([&events = network->events] {
            setCurrentThreadName("TCF");
            ServerChannel::runsChannelsOf(events);
            events.run();
        });
    return acceptor_.local_endpoint().port();
}

void TcfServer::stop()
{
    if (stopped_)
        return;
    stopped_ = true;
    if (networkThreads_.front()->thread.joinable())
        stopNetworkThreads();
    // The handlers hold the command servers: let them go now, not when this object does.
    services_.clear();
    channelClosed_ = nullptr;
}

void TcfServer::stopNetworkThreads()
{
    boost::asio::post(acceptor_.get_executor(), [this] {
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        std::lock_guard lock(channelsMutex_);
        for (auto& [id, channel] : channels_)
            channel->close("the back-end is shutting down");
    });
    // The threads end once every socket is closed and their closed handlers ran.
    for (auto& network : networkThreads_)
        network->work.reset();
    for (auto& network : networkThreads_)
        network->thread.join();
}

std::string TcfServer::helloMessage() const
{
    boost::json::array names{boost::json::string(kLocator)};
    for (const auto& [name, handler] : services_)
        names.emplace_back(name);
    return encodeMessage({MessageKind::Event, {kLocator, "Hello", boost::json::serialize(names)}});
}

void TcfServer::accept()
{
    // The network threads take the channels in turn.
    auto& events = networkThreads_[nextChannelId_ % networkThreads_.size()]->events;
    acceptor_.async_accept(events, [this](const boost::system::error_code& error, boost::asio::ip::tcp::socket socket) {
        if (error)
            return; // the acceptor was closed
        std::shared_ptr<ServerChannel> channel;
        {
            std::lock_guard lock(channelsMutex_);
            limitWaitingForHelloLocked();
            channel = std::make_shared<ServerChannel>(
                std::move(socket), nextChannelId_++, limits_,
                ChannelCallbacks{[this](const auto& from, Message&& message) { onMessage(from, std::move(message)); },
                                 [this](const auto& closed) { onChannelClosed(closed); }});
            channels_.emplace(channel->getChannelId(), channel);
        }
        BackendLogger::info("tcf", "Channel " + std::to_string(channel->getChannelId()) + " opened by " + channel->peer());
        // The Hello goes first: the channel gets no event before its client's Hello.
        channel->send(helloMessage());
        boost::asio::dispatch(channel->executor(), [channel] { channel->startReading(); });
        accept();
    });
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
        // Counted and taken under one lock: two network threads may read two Hellos at once.
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
        for (const auto& [id, channel] : channels_)
            if (channel->helloReceived())
                targets.push_back(channel);
    }
    for (const auto& channel : targets)
        channel->send(bytes);
}

std::size_t TcfServer::channelCount() const
{
    std::lock_guard lock(channelsMutex_);
    return channels_.size();
}

} // namespace hil::tcf
