#pragma once

#include "core/interfaces/IContextBase.h"

namespace hil {

/// A context of the Message service, implemented by a driver bundle.
class IMessageContext : public IContextBase {};

} // namespace hil
