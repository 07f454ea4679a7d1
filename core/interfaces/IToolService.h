#pragma once

#include "core/interfaces/IService.h"

namespace hil {

/// The Tool service: its context registry, and the operations of its own.
class IToolService : public IServiceBase {};

} // namespace hil
