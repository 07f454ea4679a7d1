#pragma once

#include "core/interfaces/IContextBase.h"

namespace hil {

/// A context of the Registers service, implemented by a driver bundle.
class IRegistersContext : public IContextBase {};

} // namespace hil
