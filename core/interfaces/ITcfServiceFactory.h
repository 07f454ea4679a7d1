// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "core/interfaces/IAdClassFactory.h"
#include "core/interfaces/ICommandServer.h"
#include "core/interfaces/IService.h"

namespace hil {

class IOrixDebugger;

/// Category of the factories the host builds its TCF services from.
inline const std::string kTcfServiceFactoryCategory = "tcfservicefactory";

/// Makes one TCF service and its command server for the host.
class ITcfServiceFactory : public IAdClassFactory {
public:
    /// The TCF name the command server is registered under.
    virtual std::string getServiceName() const = 0;
    virtual std::shared_ptr<IService> createService(IOrixDebugger& debugger) = 0;
    /// `service` must be the one this factory's `createService` made.
    virtual std::shared_ptr<ICommandServer> createCommandServer(IOrixDebugger& debugger,
                                                                std::shared_ptr<IService> service) = 0;
};

} // namespace hil
