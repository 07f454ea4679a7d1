// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/device/DeviceCommandServer.h"
#include "core/device/DeviceService.h"
#include "core/frame/TcfServiceFactory.h"

namespace hil {

/// The factory of the "Device" service and its command server.
class DeviceServiceFactory : public TcfServiceFactory<DeviceService, DeviceCommandServer> {
public:
    DeviceServiceFactory() : TcfServiceFactory("Device") {}
};

} // namespace hil
