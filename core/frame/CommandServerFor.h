// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <stdexcept>

#include "core/frame/CommandServerBase.h"

namespace hil {

/// The frame of a command server for one kind of service: the service is cast to its kind once,
/// here, and the server reaches it through `service()`.
template <class Service>
class CommandServerFor : public CommandServerBase {
public:
    /// Throws `std::invalid_argument` when `service` is not a `Service`.
    CommandServerFor(IOrixDebugger& debugger, std::shared_ptr<IService> service)
        : CommandServerBase(debugger, service), typedService_(std::dynamic_pointer_cast<Service>(service))
    {
        if (!typedService_)
            throw std::invalid_argument("a command server was given the " + (service ? service->getName() : "null") +
                                        " service, which is not of its kind");
    }

protected:
    const std::shared_ptr<Service>& service() const { return typedService_; }

private:
    const std::shared_ptr<Service> typedService_;
};

} // namespace hil
