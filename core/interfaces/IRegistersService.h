// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/interfaces/IService.h"

namespace hil {

/// The Registers service: its context registry, and the operations of its own.
class IRegistersService : public IServiceBase {};

} // namespace hil
