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

/// One network thread a core, up to four: more would only wait for the commands' turn.
std::size_t defaultNetworkThreads();

/// The TCF server over TCP.
///
/// Threads: `networkThreads` threads ("TCF") accept, read the sockets and run the commands as
/// they are read, reply included. Each channel stays on the thread it was given, so its commands
/// run in arrival order; the commands of all channels run one at a time (the services hold state
/// that only commands touch, with no locks of their own), while the reading, decoding, encoding and
/// writing of the others go on beside them. Replies and events go to the socket at once when it
/// takes them, else into the channel's outgoing queue, which is written out as the socket has
/// room; they never wait for the client. A command that runs long holds up the other commands,
/// which could not have run meanwhile anyway, but no reading or writing.
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
        /// Threads that read and write the sockets: one a core, up to four.
        std::size_t networkThreads = defaultNetworkThreads();
    };

    explicit TcfServer(Limits limits);
    ~TcfServer() override;
    TcfServer(const TcfServer&) = delete;
    TcfServer& operator=(const TcfServer&) = delete;

    /// Registers the handler of a service; call before `start`.
    void registerService(const std::string& name, CommandHandler handler);
    /// Called after a channel closed, once per channel, one at a time with the commands.
    void setChannelClosedHandler(ChannelClosedHandler handler);

    /// Listens on `address`:`port` (port 0 picks a free one) and starts the network threads;
    /// returns the port bound. Throws `boost::system::system_error` when it cannot listen.
    std::uint16_t start(const std::string& address, std::uint16_t port);
    /// Closes every channel, runs their closed handlers, joins the network threads, and releases
    /// every handler. Idempotent.
    void stop();

    /// Broadcasts an event to every channel that finished its Hello exchange. Any thread.
    void sendEvent(const std::string& service, const std::string& name,
                   const std::vector<std::string>& arguments) override;

    /// Number of open channels.
    std::size_t channelCount() const;

private:
    struct NetworkThread;
    static std::vector<std::unique_ptr<NetworkThread>> makeNetworkThreads(std::size_t count);
    void stopNetworkThreads();
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
    /// A thread with its own event loop and the channels given to it: a channel's reads and
    /// writes never wait for a hand-over between threads.
    struct NetworkThread {
        boost::asio::io_context events{1};
        boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work{events.get_executor()};
        std::thread thread;
    };
    std::vector<std::unique_ptr<NetworkThread>> networkThreads_;
    boost::asio::ip::tcp::acceptor acceptor_; ///< on the first network thread
    /// Held while a command or a channel's cleanup runs: the services see one at a time.
    std::mutex commandMutex_;
    mutable std::mutex channelsMutex_;
    std::map<int, std::shared_ptr<ServerChannel>> channels_;
    int nextChannelId_ = 1;
    bool stopped_ = false;
};

} // namespace hil::tcf
