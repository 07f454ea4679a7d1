// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "platform/osp/Properties.h"
#include "platform/osp/Service.h"

namespace hil::osp {

/// One entry of the service registry: name, properties and the service itself.
class ServiceRef : public Poco::RefCountedObject {
public:
    using Ptr = Poco::AutoPtr<ServiceRef>;

    ServiceRef(std::string name, Properties properties, Service::Ptr instance)
        : name_(std::move(name)), properties_(std::move(properties)), instance_(std::move(instance))
    {
    }
    const std::string& name() const { return name_; }
    const Properties& properties() const { return properties_; }
    const Service::Ptr& instance() const { return instance_; }

private:
    std::string name_;
    Properties properties_;
    Service::Ptr instance_;
};

} // namespace hil::osp
