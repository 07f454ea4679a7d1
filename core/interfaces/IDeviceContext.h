#pragma once

#include "core/interfaces/IContextBase.h"

namespace hil {

/// A context of the Device service, implemented by a driver bundle.
class IDeviceContext : public IContextBase {};

} // namespace hil
