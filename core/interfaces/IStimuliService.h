#pragma once

#include "core/interfaces/IService.h"

namespace hil {

/// The Stimuli service: its context registry, and the operations of its own.
class IStimuliService : public IServiceBase {};

} // namespace hil
