// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>

#include <boost/signals2/signal.hpp>

#include "core/interfaces/IContextBase.h"

namespace hil {

/// What the host knows of every service.
class IService {
public:
    virtual ~IService() = default;
    /// The service's TCF name ("Tool", "Memory", ...).
    virtual std::string getName() const = 0;
    /// Unregisters every context that the client connection `ownerId` created; the host calls it
    /// when that client goes away.
    virtual void cleanup(int ownerId) = 0;
    virtual void dumpContexts() {}
};

/// A service with a context registry.
class IServiceBase : public IService {
public:
    /// Carries the contexts added or removed, in the order given to the registry.
    using ContextsSignal = boost::signals2::signal<void(ContextList&)>;
    using ContextsSlot = ContextsSignal::slot_type;

    /// The context registered under `id`, or null.
    virtual ContextPtr getContextFromId(const std::string& id) const = 0;
    /// The contexts whose parent is `parent` (null: the root contexts), in ascending id order.
    virtual ContextList getChildren(const ContextPtr& parent) const = 0;
    virtual boost::signals2::connection addContextsAddedHandler(const ContextsSlot& slot) const = 0;
    virtual boost::signals2::connection addContextsRemovedHandler(const ContextsSlot& slot) const = 0;
    virtual void addContext(const ContextPtr& context) = 0;
    virtual void addContexts(ContextList& contexts) = 0;
    virtual void removeContext(const ContextPtr& context) = 0;
    virtual void removeContexts(ContextList& contexts) = 0;
};

} // namespace hil
