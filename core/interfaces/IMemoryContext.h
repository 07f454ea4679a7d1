#pragma once

#include "core/interfaces/IContextBase.h"

namespace hil {

/// A context of the Memory service, implemented by a driver bundle.
class IMemoryContext : public IContextBase {};

} // namespace hil
