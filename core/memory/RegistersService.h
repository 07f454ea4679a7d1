// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frame/ServiceBase.h"
#include "core/interfaces/IRegistersService.h"

namespace hil {

/// The "Registers" service: the registry of the register contexts that driver bundles make.
class RegistersService : public ServiceBase<IRegistersService> {
public:
    explicit RegistersService(IOrixDebugger& debugger) : ServiceBase(debugger, "Registers") {}
};

} // namespace hil
