// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "core/interfaces/IContextBase.h"

namespace hil::bundles {

/// What every context a driver registers shares: its id, its parent (held weakly: a device owns
/// the contexts below it; tools and devices have none), and the owner stamp of the registry.
template <class Interface>
class TargetContext : public Interface {
public:
    TargetContext(std::string id, std::weak_ptr<IContextBase> parent, std::string parentId)
        : id_(std::move(id)), parentId_(std::move(parentId)), parent_(std::move(parent))
    {
    }

    std::string getId() const override { return id_; }
    std::shared_ptr<IContextBase> getParent() const override { return parent_.lock(); }
    /// These contexts take no settings unless they say otherwise.
    void setProperties(const boost::json::object&) override {}
    int getOwnerId() const override { return ownerId_; }
    void setOwnerId(int ownerId) override { ownerId_ = ownerId; }

protected:
    const std::string id_;
    const std::string parentId_;

private:
    std::weak_ptr<IContextBase> parent_;
    std::atomic<int> ownerId_{0};
};

} // namespace hil::bundles
