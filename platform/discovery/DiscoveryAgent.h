// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "platform/discovery/DiscoveryPacket.h"

namespace hil::discovery {

/// Takes part in TCF UDP discovery for one peer of ours: advertises it, answers requests, learns
/// the other agents and their peers, and says goodbye when destroyed.
///
/// The first agent on a host to bind the well-known port (on every address) is the master; the
/// others bind a free port and are slaves, and tell the master so with an empty slave table. Every agent sends to the well-known port of its subnet and to every slave
/// it knows; the master tells each slave of the others, and only a master's list of slaves is
/// believed. Peers and slaves not heard of within the retention time are forgotten, and at most
/// 1,024 of each are kept. A slave that has not heard its master for two advertising intervals
/// takes the well-known port when it is free.
///
/// Threads: one of its own runs the socket and the timers; `peers` and `isMaster` may be called
/// from any thread.
class DiscoveryAgent {
public:
    struct Options {
        /// The address the peer listens on: loopback keeps discovery on 127.0.0.0/8; any other
        /// address uses the broadcast address of its interface ("0.0.0.0": of every interface).
        std::string address = "127.0.0.1";
        std::uint16_t port = kDiscoveryPort;
        std::chrono::milliseconds interval{15000};
        std::chrono::milliseconds retention{60000};
    };

    /// Starts at once: binds, then sends a request and the peer's info. `self` must hold "ID".
    /// Throws `std::runtime_error` when no UDP socket can be bound.
    DiscoveryAgent(PeerAttributes self, Options options);
    /// Sends the goodbye ("peers removed") and stops the thread.
    ~DiscoveryAgent();
    DiscoveryAgent(const DiscoveryAgent&) = delete;
    DiscoveryAgent& operator=(const DiscoveryAgent&) = delete;

    /// The peers of other agents heard within the retention time, by ID.
    std::map<std::string, PeerAttributes> peers() const;
    bool isMaster() const;

private:
    using Clock = std::chrono::steady_clock;
    using Endpoint = boost::asio::ip::udp::endpoint;

    void bindSocket(bool takeWellKnownPort);
    /// False for an address off this host's loopback when the peer listens on loopback: such a
    /// listener hears and tells only its own host.
    bool mayTalkTo(const Endpoint& other) const;
    /// True for our own datagrams, which broadcasts and the master's port bring back to us.
    bool sentByUs(const Endpoint& sender) const;
    void receive();
    void onPacket(const Endpoint& sender, const Packet& packet);
    void noteSlave(const Endpoint& sender);
    void tick();
    void advertise();
    void sendTo(const Endpoint& destination, const std::string& bytes);
    void sendToAll(const std::string& bytes);
    std::string slavesPacket(const Endpoint& except) const;

    const PeerAttributes self_;
    const std::string selfId_;
    const Options options_;
    const bool loopbackOnly_;
    const std::vector<Endpoint> wellKnown_;
    const std::vector<boost::asio::ip::address> hostAddresses_;

    boost::asio::io_context io_;
    boost::asio::ip::udp::socket socket_{io_};
    boost::asio::steady_timer timer_{io_};
    Endpoint local_;
    Endpoint sender_;
    std::string buffer_;
    Clock::time_point masterHeard_;
    std::map<Endpoint, Clock::time_point> slaves_;

    mutable std::mutex mutex_;
    bool master_ = false;
    std::map<std::string, std::pair<PeerAttributes, Clock::time_point>> peers_;
    std::thread thread_;
};

/// What a discovery client hears within `wait`: it asks the well-known port on `address`'s subnet
/// for peers and slaves, then asks each slave named. The peers by ID.
std::map<std::string, PeerAttributes> listPeers(const std::string& address, std::uint16_t port,
                                                 std::chrono::milliseconds wait);

} // namespace hil::discovery
