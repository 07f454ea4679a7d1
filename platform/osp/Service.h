// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <typeinfo>

#include <Poco/AutoPtr.h>
#include <Poco/RefCountedObject.h>

namespace hil::osp {

/// Anything registered in the service registry; reference counted, held through `Ptr`.
class Service : public Poco::RefCountedObject {
public:
    using Ptr = Poco::AutoPtr<Service>;

    /// The dynamic type of the service.
    virtual const std::type_info& type() const = 0;
    /// True when the service is of type `other`.
    virtual bool isA(const std::type_info& other) const { return other == typeid(Service); }

protected:
    ~Service() override = default;
};

} // namespace hil::osp
