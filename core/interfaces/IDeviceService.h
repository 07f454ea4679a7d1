#pragma once

#include "core/interfaces/IService.h"

namespace hil {

/// The Device service: its context registry, and the operations of its own.
class IDeviceService : public IServiceBase {};

} // namespace hil
