#pragma once

#include "core/interfaces/IContextBase.h"

namespace hil {

/// A context of the Tool service, implemented by a driver bundle.
class IToolContext : public IContextBase {};

} // namespace hil
