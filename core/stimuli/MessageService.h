// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frame/ServiceBase.h"
#include "core/interfaces/IMessageService.h"

namespace hil {

/// The "Message" service: the registry of the message contexts that driver bundles make.
class MessageService : public ServiceBase<IMessageService> {
public:
    explicit MessageService(IOrixDebugger& debugger) : ServiceBase(debugger, "Message") {}
};

} // namespace hil
