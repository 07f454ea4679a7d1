// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <vector>

#include <boost/json/object.hpp>

#include "core/interfaces/IAdClassFactory.h"
#include "core/interfaces/IConnection.h"

namespace hil {

/// Category under which connection factories register.
inline const std::string kConnectionFactoryCategory = "connectionfactory";

/// Lists and opens the connections of one connection type.
class ConnectionFactory : public IAdClassFactory {
public:
    /// The connections attached now. Called once a second while polling is on.
    virtual std::vector<std::shared_ptr<IConnection>> getAttachedConnections() = 0;
    /// A connection from its properties, or null when none can be made.
    virtual std::shared_ptr<IConnection> createConnection(const boost::json::object& properties) = 0;
};

} // namespace hil
