// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/interfaces/ConnectionFactory.h"

namespace hil::gdbremote {

/// The connection types of this bundle, which are also the class names of their factories.
inline const std::string kTcpConnectionType = "com.velmora.hil.connection.tcp";
inline const std::string kQemuConnectionType = "com.velmora.hil.connection.qemu";

/// The machine a qemu connection starts when it names none.
inline const std::string kDefaultQemuMachine = "mps2-an385";
/// The QEMU connection's properties: the machine and the firmware it runs.
inline const std::string kMachineProperty = "Machine";
inline const std::string kKernelProperty = "Kernel";

/// A GDB server at "Host" (default 127.0.0.1) and "Port", or a QEMU to start ("Machine",
/// optional "Kernel"). Nothing is opened until a tool connects.
class GdbConnection : public IConnection {
public:
    GdbConnection(std::string type, boost::json::object properties)
        : type_(std::move(type)), properties_(std::move(properties))
    {
    }
    std::string getConnectionType() const override { return type_; }
    boost::json::object getConnectionProperties() const override { return properties_; }
    bool isQemu() const { return type_ == kQemuConnectionType; }
    /// A text property, `fallback` when absent.
    std::string text(const std::string& key, const std::string& fallback = "") const;
    std::uint16_t port() const;

private:
    std::string type_;
    boost::json::object properties_;
};

/// "HOST:PORT" of an endpoint; the port 0 when it is not one.
struct Endpoint {
    std::string host;
    std::uint16_t port = 0;
    std::string text() const { return host + ":" + std::to_string(port); }
};
/// The endpoints of a list such as "127.0.0.1:3333, 127.0.0.1:2331"; entries that are not
/// HOST:PORT with a port in 1..65535 are skipped.
std::vector<Endpoint> parseEndpoints(const std::string& list);

/// Endpoints a tool of this bundle is connected to. A GDB server often takes one client only:
/// polling must not knock on a door that is in use, so those are listed without being asked.
class EndpointsInUse {
public:
    static EndpointsInUse& instance();
    void add(const std::string& endpoint);
    void remove(const std::string& endpoint);
    bool contains(const std::string& endpoint) const;

private:
    mutable std::mutex mutex_;
    std::multiset<std::string> endpoints_;
};

/// GDB servers on TCP. The attached ones are the endpoints of the "Endpoints" list that accept a
/// connection and answer `qSupported` within half a second (or that a tool of ours uses now).
/// `createConnection` takes "Host" (default 127.0.0.1) and "Port" (1..65535, required).
class TcpConnectionFactory : public ConnectionFactory {
public:
    explicit TcpConnectionFactory(std::string endpoints) : endpoints_(parseEndpoints(endpoints)) {}
    std::string getCategory() const override { return kConnectionFactoryCategory; }
    std::string getClassName() const override { return kTcpConnectionType; }
    std::vector<std::shared_ptr<IConnection>> getAttachedConnections() override;
    std::shared_ptr<IConnection> createConnection(const boost::json::object& properties) override;

private:
    const std::vector<Endpoint> endpoints_;
};

/// QEMU machines the back-end starts itself. One is listed as attached ({"Machine":
/// "mps2-an385"}) where `qemu-system-arm` is installed. `createConnection` takes "Machine"
/// (default mps2-an385) and "Kernel" (an ELF file, optional): both are checked when the tool
/// connects, so that the error can say what was wrong.
class QemuConnectionFactory : public ConnectionFactory {
public:
    std::string getCategory() const override { return kConnectionFactoryCategory; }
    std::string getClassName() const override { return kQemuConnectionType; }
    std::vector<std::shared_ptr<IConnection>> getAttachedConnections() override;
    std::shared_ptr<IConnection> createConnection(const boost::json::object& properties) override;
};

} // namespace hil::gdbremote
