// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace hil {

/// The device-pack manager, loaded at run time from the library "vlpackmanagerlib", whose
/// exported "getPackService" returns a new one (the caller deletes it).
class ISimplePackService {
public:
    virtual ~ISimplePackService() = default;
    /// Every device the packs describe.
    virtual std::vector<std::string> getDevices() const = 0;
    /// The description file of the device; empty when the packs have none.
    virtual std::string getDeviceFile(const std::string& deviceName) const = 0;
    /// A property of the device; empty when unknown.
    virtual std::string lookupDeviceProperty(const std::string& deviceName, const std::string& key) const = 0;
    /// The alternative spelling of a property (the pack's second table); empty when unknown.
    virtual std::string lookupDevicePropertyAlt(const std::string& deviceName, const std::string& key) const = 0;
};

/// The type of the exported "getPackService".
using GetPackServiceFunction = ISimplePackService* (*)();

} // namespace hil
