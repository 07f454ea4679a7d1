// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "platform/tcf/ICommandChannel.h"
#include "platform/tcf/ServerChannel.h"

namespace hil::tcf {

/// The TCF server over TCP.
///
/// Threads: one thread ("TCF") accepts, reads every socket, and runs every command of every
/// client in arrival order, reply included, as the message is read. Replies and events go to the
/// socket at once when it takes them and nothing is queued before them, else into the channel's
/// outgoing queue, which the thread writes out between commands; they never wait for the client.
/// A command that runs long holds up reading, but nothing could have run meanwhile anyway, and a
/// command no longer waits for a second thread to wake up (half the round trip on a busy VM).
///
/// Each side sends "E Locator Hello [services]" first; a command that arrives before the client's
/// Hello, or names a service nobody registered, is answered "N". The server answers "Locator"
/// "sync" itself.
///
/// Only a client that said Hello takes one of the `maxClients` slots. Connections still waiting
/// for theirs are at most as many again; a new one closes the oldest of them, and each is closed
/// when its Hello does not come in time. So connections that say nothing never lock clients out.
class TcfServer : public IEventSink {
public:
    using CommandHandler = std::function<void(ICommandChannel& channel, const Token& token, const std::string& command,
                                              const std::vector<std::string>& arguments)>;
    using ChannelClosedHandler = std::function<void(int channelId)>;

    struct Limits : ChannelLimits {
        /// Clients that said Hello; one more is closed as its Hello arrives.
        std::size_t maxClients = 32;
    };

    explicit TcfServer(Limits limits);
    ~TcfServer() override;
    TcfServer(const TcfServer&) = delete;
    TcfServer& operator=(const TcfServer&) = delete;

    /// Registers the handler of a service; call before `start`.
    void registerService(const std::string& name, CommandHandler handler);
    /// Called on the server's thread after a channel closed, once per channel.
    void setChannelClosedHandler(ChannelClosedHandler handler);

    /// Listens on `address`:`port` (port 0 picks a free one) and starts the server's thread;
    /// returns the port bound. Throws `boost::system::system_error` when it cannot listen.
    std::uint16_t start(const std::string& address, std::uint16_t port);
    /// Closes every channel, runs their closed handlers, joins the server's thread, and releases
    /// every handler. Idempotent.
    void stop();

    /// Broadcasts an event to every channel that finished its Hello exchange. Any thread.
    void sendEvent(const std::string& service, const std::string& name,
                   const std::vector<std::string>& arguments) override;

    /// Number of open channels.
    std::size_t channelCount() const;

private:
    void stopNetworkThread();
    void accept();
    /// Makes room for one more connection waiting for its Hello. Call with the channel lock held.
    void limitWaitingForHelloLocked();
    void onHello(const std::shared_ptr<ServerChannel>& channel);
    void onMessage(const std::shared_ptr<ServerChannel>& channel, Message&& message);
    void onChannelClosed(const std::shared_ptr<ServerChannel>& channel);
    std::string helloMessage() const;

    Limits limits_;
    std::map<std::string, CommandHandler> services_;
    ChannelClosedHandler channelClosed_;
    boost::asio::io_context network_;
    boost::asio::ip::tcp::acceptor acceptor_;
    std::unique_ptr<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> networkWork_;
    std::thread networkThread_;
    mutable std::mutex channelsMutex_;
    std::map<int, std::shared_ptr<ServerChannel>> channels_;
    int nextChannelId_ = 1;
    bool stopped_ = false;
};

} // namespace hil::tcf
