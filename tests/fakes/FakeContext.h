// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include <boost/json/object.hpp>

#include "core/interfaces/IContextBase.h"

namespace hil::fakes {

/// A context of any kind: `Interface` is `IContextBase` or one of the six context interfaces.
/// Its properties hold "ID" (and "ParentID" when it has a parent) unless a test sets others.
template <class Interface = IContextBase>
class FakeContext : public Interface {
public:
    explicit FakeContext(std::string id, std::shared_ptr<IContextBase> parent = nullptr)
        : id_(std::move(id)), parent_(std::move(parent))
    {
        properties["ID"] = id_;
        if (parent_)
            properties["ParentID"] = parent_->getId();
    }

    std::string getId() const override { return id_; }
    std::shared_ptr<IContextBase> getParent() const override { return parent_; }
    /// Answers no parent from now on, as a context whose parent was destroyed does.
    void loseParent() { parent_.reset(); }
    boost::json::object getProperties() const override { return properties; }
    void setProperties(const boost::json::object& changed) override
    {
        for (const auto& [key, value] : changed)
            properties[key] = value;
    }
    std::string getKind() const override { return "fake"; }
    int getOwnerId() const override { return ownerId_; }
    void setOwnerId(int ownerId) override { ownerId_ = ownerId; }

    boost::json::object properties;

private:
    std::string id_;
    std::shared_ptr<IContextBase> parent_;
    std::atomic<int> ownerId_{-1};
};

template <class Interface = IContextBase>
std::shared_ptr<FakeContext<Interface>> makeContext(std::string id, std::shared_ptr<IContextBase> parent = nullptr)
{
    return std::make_shared<FakeContext<Interface>>(std::move(id), std::move(parent));
}

} // namespace hil::fakes
