// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/osp/ServiceRef.h"

namespace hil::osp {

/// The platform's registry of named services. Thread-safe. Queries return entries in the order
/// they were registered.
class ServiceRegistry {
public:
    /// Registers `service` under `name`. Throws `Poco::ExistsException` when the name is taken.
    ServiceRef::Ptr registerService(const std::string& name, Service::Ptr service, const Properties& properties);
    void unregisterService(const ServiceRef::Ptr& reference);
    /// The entry named `name`, or null.
    ServiceRef::Ptr findByName(const std::string& name) const;
    /// Appends the entries that match `filter` (see `ServiceFilter`) and returns how many matched.
    /// A filter that does not parse throws `Poco::SyntaxException`.
    std::size_t find(const std::string& filter, std::vector<ServiceRef::Ptr>& found) const;

private:
    mutable std::mutex mutex_;
    std::vector<ServiceRef::Ptr> entries_;
};

} // namespace hil::osp
