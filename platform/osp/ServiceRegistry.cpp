// SPDX-License-Identifier: Apache-2.0
#include "platform/osp/ServiceRegistry.h"

#include <algorithm>

#include <Poco/Exception.h>

#include "platform/osp/ServiceFilter.h"

namespace hil::osp {

ServiceRef::Ptr ServiceRegistry::registerService(const std::string& name, Service::Ptr service,
                                                 const Properties& properties)
{
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_)
        if (entry->name() == name)
            throw Poco::ExistsException("service already registered", name);
    ServiceRef::Ptr reference(new ServiceRef(name, properties, std::move(service)));
    entries_.push_back(reference);
    return reference;
}

void ServiceRegistry::unregisterService(const ServiceRef::Ptr& reference)
{
    std::lock_guard lock(mutex_);
    entries_.erase(std::remove(entries_.begin(), entries_.end(), reference), entries_.end());
}

ServiceRef::Ptr ServiceRegistry::findByName(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_)
        if (entry->name() == name)
            return entry;
    return {};
}

std::size_t ServiceRegistry::find(const std::string& filter, std::vector<ServiceRef::Ptr>& found) const
{
    const ServiceFilter compiled(filter);
    std::lock_guard lock(mutex_);
    std::size_t matched = 0;
    for (const auto& entry : entries_) {
        if (compiled.matches(entry->properties())) {
            found.push_back(entry);
            ++matched;
        }
    }
    return matched;
}

} // namespace hil::osp
