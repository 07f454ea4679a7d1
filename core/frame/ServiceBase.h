// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <compare>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>

#include <boost/signals2/signal.hpp>

#include "core/interfaces/IOrixDebugger.h"
#include "core/interfaces/IService.h"
#include "platform/common/BackendLogger.h"

namespace hil {

/// The base of every service: a name, the debugger, and a registry of contexts keyed by id with
/// a contexts-added and a contexts-removed signal. Each context is also listed under its parent's
/// id, taken when it is added (a context's parent never changes), so that listing children costs
/// what it returns, however many contexts the service holds.
///
/// Thread safety: any thread may call the registry. Readers share a lock; `addContexts`,
/// `removeContexts` and `cleanup` hold it exclusively, and both signals fire while it is held, so
/// a signal handler must not call the registry of the same service. Ids compare byte by byte.
template <class I>
class ServiceBase : public I, public std::enable_shared_from_this<ServiceBase<I>> {
public:
    ServiceBase(IOrixDebugger& debugger, std::string name) : debugger_(debugger), name_(std::move(name)) {}
    ServiceBase(const ServiceBase&) = delete;
    ServiceBase& operator=(const ServiceBase&) = delete;

    std::string getName() const override { return name_; }

    /// Unregisters the contexts of `ownerId` without a signal, then calls `cleanupContext` for
    /// each, in id order, once the lock is released.
    void cleanup(int ownerId) override
    {
        ContextList orphans;
        {
            std::unique_lock lock(registryLock_);
            for (auto entry = contexts_.begin(); entry != contexts_.end();) {
                if (entry->second.context->getOwnerId() != ownerId) {
                    ++entry;
                    continue;
                }
                if (BackendLogger::debugOn("svc"))
                    BackendLogger::debug("svc", "Unregistering orphan " + entry->first + " refcount " +
                                                    std::to_string(entry->second.context.use_count()));
                orphans.push_back(std::move(entry->second.context));
                entry = eraseLocked(entry);
            }
        }
        for (const auto& orphan : orphans)
            cleanupContext(orphan);
    }

    void dumpContexts() override
    {
        ContextList none;
        removeContexts(none);
    }

    ContextPtr getContextFromId(const std::string& id) const override
    {
        std::shared_lock lock(registryLock_);
        const auto entry = contexts_.find(id);
        return entry == contexts_.end() ? nullptr : entry->second.context;
    }

    /// The contexts whose `getParent`, asked now, is `parent` (null: the roots), in id order. The
    /// listing taken at registration finds the candidates; a context whose parent has been
    /// destroyed since answers null and so counts as a root, as its `getParent` says.
    ContextList getChildren(const ContextPtr& parent) const override
    {
        std::shared_lock lock(registryLock_);
        std::vector<const typename Entries::value_type*> found;
        const auto collect = [&](const ParentKey& key, const auto& stillChild) {
            const auto listed = children_.find(key);
            if (listed == children_.end())
                return;
            for (const auto& id : listed->second) {
                const auto& entry = *contexts_.find(id);
                if (stillChild(*entry.second.context))
                    found.push_back(&entry);
            }
        };
        if (parent) {
            const std::string parentId = parent->getId();
            collect(ParentKey::of(parent), [&](const IContextBase& child) {
                const auto now = child.getParent();
                return now && (now == parent || now->getId() == parentId);
            });
        } else {
            const auto isRoot = [](const IContextBase& child) { return !child.getParent(); };
            collect(ParentKey{}, isRoot);
            // Only the children of a parent unregistered since can have lost it: the registry
            // keeps the others alive. They join the roots, in id order.
            const std::size_t roots = found.size();
            for (const auto& orphaned : orphanedParents_)
                collect(ParentKey{false, orphaned}, isRoot);
            if (found.size() != roots) {
                const auto byId = [](const auto* a, const auto* b) { return a->first < b->first; };
                std::sort(found.begin() + static_cast<std::ptrdiff_t>(roots), found.end(), byId);
                std::inplace_merge(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(roots), found.end(), byId);
            }
        }
        ContextList children;
        children.reserve(found.size());
        for (const auto* entry : found)
            children.push_back(entry->second.context);
        return children;
    }

    boost::signals2::connection addContextsAddedHandler(const IServiceBase::ContextsSlot& slot) const override
    {
        return contextsAdded_.connect(slot);
    }

    boost::signals2::connection addContextsRemovedHandler(const IServiceBase::ContextsSlot& slot) const override
    {
        return contextsRemoved_.connect(slot);
    }

    void addContext(const ContextPtr& context) override
    {
        ContextList one{context};
        addContexts(one);
    }

    /// Stamps each context with the calling thread's owner id (0 when it never handled a
    /// command) and registers it; an id already registered keeps its first context. The signal
    /// carries the whole list, refused contexts and the empty list included.
    void addContexts(ContextList& contexts) override
    {
        std::unique_lock lock(registryLock_);
        const int ownerId = debugger_.getCurrentOwnerSlot().get().value_or(0);
        for (const auto& context : contexts) {
            context->setOwnerId(ownerId);
            ParentKey key = ParentKey::of(context->getParent());
            if (contexts_.try_emplace(context->getId(), Entry{context, key}).second)
                children_[std::move(key)].insert(context->getId());
        }
        contextsAdded_(contexts);
    }

    void removeContext(const ContextPtr& context) override
    {
        ContextList one{context};
        removeContexts(one);
    }

    /// Erases whatever is registered under each context's id; null entries are skipped. The
    /// signal fires unless the list is empty.
    void removeContexts(ContextList& contexts) override
    {
        std::unique_lock lock(registryLock_);
        for (const auto& context : contexts) {
            if (!context)
                continue;
            const auto entry = contexts_.find(context->getId());
            if (entry != contexts_.end())
                eraseLocked(entry);
        }
        if (!contexts.empty())
            contextsRemoved_(contexts);
    }

    /// Called for each context that `cleanup` unregistered, outside the lock. Does nothing here.
    virtual void cleanupContext(const ContextPtr& /*context*/) {}

protected:
    IOrixDebugger& debugger_;

private:
    /// Where `getChildren` finds a context: under its parent's id, or among the roots.
    struct ParentKey {
        bool root = true;
        std::string id;
        auto operator<=>(const ParentKey&) const = default;

        static ParentKey of(const ContextPtr& parent) { return parent ? ParentKey{false, parent->getId()} : ParentKey{}; }
    };
    struct Entry {
        ContextPtr context;
        ParentKey parent;
    };
    using Entries = std::map<std::string, Entry>;

    /// Unregisters `entry` and its listing under its parent; the registry lock is held.
    typename Entries::iterator eraseLocked(typename Entries::iterator entry)
    {
        const auto listed = children_.find(entry->second.parent);
        listed->second.erase(entry->first);
        if (listed->second.empty()) {
            if (!listed->first.root)
                orphanedParents_.erase(listed->first.id);
            children_.erase(listed);
        }
        if (children_.contains(ParentKey{false, entry->first}))
            orphanedParents_.insert(entry->first);
        return contexts_.erase(entry);
    }

    const std::string name_;
    Entries contexts_;
    /// The ids of each parent's children: ids, so that the registry holds one reference a context.
    std::map<ParentKey, std::set<std::string>> children_;
    /// The ids of unregistered contexts that still have children listed under them.
    std::set<std::string> orphanedParents_;
    mutable std::shared_mutex registryLock_;
    mutable IServiceBase::ContextsSignal contextsAdded_;
    mutable IServiceBase::ContextsSignal contextsRemoved_;
};

} // namespace hil
