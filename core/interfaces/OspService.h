// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "platform/osp/Service.h"

namespace hil {

/// Carries a shared object through the platform's service registry.
template <class T>
class OspService : public osp::Service {
public:
    using Ptr = Poco::AutoPtr<OspService>;

    explicit OspService(std::shared_ptr<T> carried) : carried_(std::move(carried)) {}
    const std::shared_ptr<T>& get() const { return carried_; }

    const std::type_info& type() const override { return typeid(OspService); }
    bool isA(const std::type_info& other) const override
    {
        return std::string(other.name()) == typeid(OspService).name() || osp::Service::isA(other);
    }

private:
    std::shared_ptr<T> carried_;
};

} // namespace hil
