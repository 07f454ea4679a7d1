// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <boost/json/object.hpp>

namespace hil {

/// A context: one thing a service exposes to clients (a tool, a device, a memory, a register...).
/// Contexts are made by driver bundles; the core keeps them by id and forwards their properties.
class IContextBase {
public:
    virtual ~IContextBase() = default;
    /// The id, unique within its service; the registry key.
    virtual std::string getId() const = 0;
    /// The parent context, or null for a root context.
    virtual std::shared_ptr<IContextBase> getParent() const = 0;
    /// The description clients receive, members in a stable order.
    virtual boost::json::object getProperties() const = 0;
    /// Takes client settings; a context ignores the keys it does not know.
    virtual void setProperties(const boost::json::object& properties) = 0;
    /// A short word naming the kind of context ("tool", "memory", ...), for log lines.
    virtual std::string getKind() const = 0;
    /// The client connection whose command created the context; 0 when none did.
    virtual int getOwnerId() const = 0;
    virtual void setOwnerId(int ownerId) = 0;
};

using ContextPtr = std::shared_ptr<IContextBase>;
using ContextList = std::vector<ContextPtr>;

} // namespace hil
