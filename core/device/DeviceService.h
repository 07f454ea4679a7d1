// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/devicedescription/DeviceFileReaderCache.h"
#include "core/frame/ServiceBase.h"
#include "core/interfaces/IDeviceService.h"
#include "core/interfaces/ISimplePackService.h"

namespace hil {

/// The Device service: device contexts, device descriptions by name (from the device-pack
/// manager, else by a search of the preference "application.dir"), device properties and
/// boot-loader applets.
///
/// The pack manager is the library "vlpackmanagerlib" in the directory of the preference
/// "packmanager.dir" (or, without it, beside or near "application.dir"); without one the service
/// works with its fallbacks. Its operations run on the channel threads under the command lock, which serializes them.
class DeviceService : public ServiceBase<IDeviceService> {
public:
    explicit DeviceService(IOrixDebugger& debugger);
    ~DeviceService() override;

    // Kept for compatibility (docs/protocol.md).
    std::vector<std::string> getSupportedDevices() override { return {}; }
    std::string getDeviceConfigurationFile(const std::string&) override { return {}; }
    /// Throws `CoreException`: 0x20022 when no file describes the device, 0x2002F when its file
    /// cannot be read.
    std::shared_ptr<DIDevice> getDeviceInfo(Status& status, const std::string& deviceName) override;
    std::string getDeviceProperty(const std::string& deviceName, const std::string& key, bool alternative) override;
    DeviceApplets getDeviceApplets(const std::string& deviceName) override;

    /// The debugger setting naming the root of the applet folders, and its default.
    static constexpr const char* kAppletPathSetting = "com.velmora.hil.core.flokaappletpath";
    static constexpr const char* kDefaultAppletPath = "C:\\Program Files (x86)\\Velmora\\floka_2.16\\tcl_lib";

protected:
    /// Loads the pack manager; null when there is none.
    std::shared_ptr<ISimplePackService> getPackService();

private:
    /// A preference of the platform; empty without a class factory manager.
    std::string preference(const std::string& key) const;
    /// The first file named NAME.tdesc (any case) under "application.dir"; empty when none.
    std::string searchDeviceFile(const std::string& deviceName) const;

    std::shared_ptr<DeviceFileReaderCache> cache_;
    std::shared_ptr<ISimplePackService> packService_;
};

} // namespace hil
