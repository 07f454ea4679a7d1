#pragma once

#include "core/interfaces/IService.h"

namespace hil {

/// The Memory service: its context registry, and the operations of its own.
class IMemoryService : public IServiceBase {};

} // namespace hil
