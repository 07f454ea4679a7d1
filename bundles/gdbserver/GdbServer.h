// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <boost/json/object.hpp>
#include <boost/signals2/connection.hpp>

#include "bundles/gdbserver/GdbSession.h"

namespace hil::gdbserver {

/// A GDB server for one target: a listening socket and a thread that takes gdb's connections,
/// one at a time. A second gdb while one holds the target is told why it is refused and closed.
/// The model's run events for the target reach the session that holds it.
class GdbServer {
public:
    /// Listens on `address`:`port` (0 for a free port). Throws `std::runtime_error` when it cannot.
    GdbServer(std::shared_ptr<const ServedTarget> target, const std::string& address, std::uint16_t port);
    /// Stops listening and ends the session, if any.
    ~GdbServer();
    GdbServer(const GdbServer&) = delete;
    GdbServer& operator=(const GdbServer&) = delete;

    std::uint16_t port() const { return port_; }
    /// "GDB server on 127.0.0.1:3333": who plants gdb's breakpoints.
    const std::string& name() const { return name_; }
    /// {TargetID, Address, Port, Client}: Client is gdb's address, or null while none is connected.
    boost::json::object describe() const;

private:
    void acceptConnections();
    /// Tells a second gdb why it cannot have the target, in answer to its first packet.
    void refuse(int socket, const std::string& holder) const;

    const std::shared_ptr<const ServedTarget> target_;
    std::string address_;
    std::uint16_t port_ = 0;
    std::string name_;
    int listener_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    /// The session, shared with the model's event slot: that slot may run while this server goes.
    struct Holder {
        std::mutex mutex;
        std::unique_ptr<GdbSession> session;
    };
    const std::shared_ptr<Holder> holder_ = std::make_shared<Holder>();
    boost::signals2::scoped_connection events_;
    std::thread acceptor_;
};

} // namespace hil::gdbserver
