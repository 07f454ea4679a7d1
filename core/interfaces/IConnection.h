// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include <boost/json/object.hpp>

namespace hil {

/// One attached connection to a probe (USB, serial port, network...), made by a connection
/// factory.
class IConnection {
public:
    virtual ~IConnection() = default;
    /// The connection type identifier, such as "com.velmora.orixdbg.connection.hid".
    virtual std::string getConnectionType() const = 0;
    /// What identifies the connection ("SerialNumber", "PortName", ...), in a stable order.
    virtual boost::json::object getConnectionProperties() const = 0;
};

} // namespace hil
