// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcf/ICommandChannel.h"
#include "platform/tcf/ServerChannel.h"

namespace hil::tcf {

/// The TCF server over TCP.
///
/// Threads: one ("TCF accept") accepts, and each channel has one ("TCF") that reads its socket
/// and runs its commands as they are read, reply included, so a client's commands run in arrival
/// order. The commands of all channels run one at a time (the services hold state that only
/// commands touch, with no locks of their own), while the reading, decoding, encoding and
/// writing of the others go on beside them. Events and progress reports go to the socket at once
/// when it takes them; the replies to the commands of one read go out together once those have
/// run (or as one of them is about to wait on a target); what the socket does not take waits in
/// the channel's outgoing queue, which one more thread ("TCF room") writes out as the socket has
/// room. Nothing waits for the client. A command that runs long holds up
/// the other commands, which could not have run meanwhile anyway, but no reading or writing.
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
    /// Called after a channel closed, once per channel, one at a time with the commands.
    void setChannelClosedHandler(ChannelClosedHandler handler);

    /// Listens on `address`:`port` (port 0 picks a free one) and starts accepting; returns the
    /// port bound. Throws `boost::system::system_error` when it cannot listen.
    std::uint16_t start(const std::string& address, std::uint16_t port);
    /// Stops accepting, closes every channel, waits for their threads to have run their closed
    /// handlers, and releases every handler. Idempotent.
    void stop();

    /// Broadcasts an event to every open channel; one whose client has not said Hello yet gets
    /// it right after the Hello. Any thread.
    void sendEvent(const std::string& service, const std::string& name,
                   const std::vector<std::string>& arguments) override;

private:
    void acceptAll();
    /// Starts the thread of a channel just accepted on `socket`.
    void startChannel(int socket, const std::string& peer);
    /// Makes room for one more connection waiting for its Hello. Call with the channel lock held.
    void limitWaitingForHelloLocked();
    void onHello(const std::shared_ptr<ServerChannel>& channel);
    void onMessage(const std::shared_ptr<ServerChannel>& channel, Message&& message);
    void onChannelClosed(const std::shared_ptr<ServerChannel>& channel);
    /// Joins every channel thread, those still running as they end. The channels must be closing.
    void joinChannelThreads();
    std::string helloMessage() const;

    Limits limits_;
    std::map<std::string, CommandHandler> services_;
    ChannelClosedHandler channelClosed_;
    RoomWatch roomWatch_;
    int listener_ = -1;
    std::thread acceptor_;
    // Lock order, outermost first: the command lock, the service registry's locks, the channel
    // list, a channel's outgoing lock, the room watch's lock. A thread holding one never waits
    // for one before it in that order.

    /// Held while a command or a channel's cleanup runs: the services see one at a time.
    std::mutex commandMutex_;
    /// The channel list and the channel threads.
    std::mutex channelsMutex_;
    std::map<int, std::shared_ptr<ServerChannel>> channels_;
    /// By channel id, under the channel lock. A thread whose channel ended moves to
    /// `endedThreads_`, to be joined by the next accept or by `stop`.
    std::map<int, std::thread> channelThreads_;
    std::vector<std::thread> endedThreads_;
    int nextChannelId_ = 1;
    bool stopped_ = false;
};

} // namespace hil::tcf
