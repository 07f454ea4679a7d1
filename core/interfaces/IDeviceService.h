// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/devicedescription/DeviceModel.h"
#include "core/interfaces/IService.h"
#include "platform/common/Status.h"

namespace hil {

/// Boot-loader applets by kind ("Floka"), each applet as {"name", "path"}.
using DeviceApplets = std::map<std::string, std::vector<std::map<std::string, std::string>>>;

/// The Device service: device contexts, and what is known about devices by name.
class IDeviceService : public IServiceBase {
public:
    virtual std::vector<std::string> getSupportedDevices() = 0;
    virtual std::string getDeviceConfigurationFile(const std::string& deviceName) = 0;
    /// The device's description model; throws `CoreException` when it cannot be found or read.
    virtual std::shared_ptr<DIDevice> getDeviceInfo(Status& status, const std::string& deviceName) = 0;
    /// A property of the device from the pack manager, the alternative lookup when `alternative`;
    /// empty when unknown.
    virtual std::string getDeviceProperty(const std::string& deviceName, const std::string& key, bool alternative) = 0;
    virtual DeviceApplets getDeviceApplets(const std::string& deviceName) = 0;
};

} // namespace hil
