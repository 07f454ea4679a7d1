// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "core/interfaces/ITcfServiceFactory.h"

namespace hil {

/// Makes a `Service` (constructed from the debugger) and its `CommandServer` (from the debugger
/// and that service), registered as "tcfservicefactory." + name.
template <class Service, class CommandServer>
class TcfServiceFactory : public ITcfServiceFactory {
public:
    explicit TcfServiceFactory(std::string name) : name_(std::move(name)) {}

    std::string getCategory() const override { return kTcfServiceFactoryCategory; }
    std::string getClassName() const override { return kTcfServiceFactoryCategory + "." + name_; }
    std::string getServiceName() const override { return name_; }

    std::shared_ptr<IService> createService(IOrixDebugger& debugger) override
    {
        // make_shared links the service's enable_shared_from_this part.
        return std::make_shared<Service>(debugger);
    }

    std::shared_ptr<ICommandServer> createCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service) override
    {
        return std::make_shared<CommandServer>(debugger, std::move(service));
    }

private:
    std::string name_;
};

} // namespace hil
