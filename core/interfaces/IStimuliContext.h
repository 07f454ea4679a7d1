#pragma once

#include "core/interfaces/IContextBase.h"

namespace hil {

/// A context of the Stimuli service, implemented by a driver bundle.
class IStimuliContext : public IContextBase {};

} // namespace hil
