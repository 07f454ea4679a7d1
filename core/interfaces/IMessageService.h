// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/interfaces/IService.h"

namespace hil {

/// The Message service: its context registry, and the operations of its own.
class IMessageService : public IServiceBase {};

} // namespace hil
