// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/interfaces/ISimplePackService.h"
#include "packmanager/PackCatalog.h"

namespace hil::packs {

/// The device-pack manager over one pack directory, described by its index file "pack.index":
///
///     # comment
///     [DEMO8]                          one section per device (names compare in any case)
///     files = DEMO8.tdesc              its description files, in reading order, comma-separated
///     Signature = 0x1E950D             any other line is a property of the device
///     alt.Signature = 1E-95-0D         the alternative spelling of a property
///
/// A device described by one file is answered with that file. A device described by several is
/// answered with one file the pack assembles from them, in the assembly directory: the files'
/// "modules", "address-spaces", "peripherals", "interfaces", "tools", "property-groups" and
/// "variants" follow one another in order, and a later file's architecture, series and
/// parameters replace earlier ones, as if the files had been read one after the other.
///
/// After the index's devices come those of the pack catalog: SVD files and CMSIS-Packs.
class SimplePackService : public ISimplePackService {
public:
    /// Reads `packDirectory`/pack.index; a missing or unreadable index makes an empty pack.
    /// The devices of `catalog` (may be null) follow those of the index; a device the index
    /// names is taken from the index.
    SimplePackService(std::filesystem::path packDirectory, std::filesystem::path assemblyDirectory,
                      std::shared_ptr<PackCatalog> catalog = nullptr);

    std::vector<std::string> getDevices() const override;
    std::string getDeviceFile(const std::string& deviceName) const override;
    /// The index's property; "Source", when the index gives none, is the index file.
    std::string lookupDeviceProperty(const std::string& deviceName, const std::string& key) const override;
    std::string lookupDevicePropertyAlt(const std::string& deviceName, const std::string& key) const override;

    static constexpr const char* kIndexFile = "pack.index";

private:
    struct Device {
        std::string name;
        std::vector<std::string> files;
        std::map<std::string, std::string> properties;
    };

    const Device* find(const std::string& deviceName) const;
    std::string assemble(const Device& device) const;

    std::filesystem::path packDirectory_;
    std::filesystem::path assemblyDirectory_;
    std::vector<Device> devices_;
    std::shared_ptr<PackCatalog> catalog_;
};

/// The properties a catalog device answers: "Vendor", "Family", "SubFamily", "Core",
/// "Architecture", "Fpu", "Mpu", "Endian", "Clock", "Svd", "Source", and "FlashSize" and
/// "RamSize" (the sums of its memory regions, hexadecimal); empty for any other key.
std::string catalogDeviceProperty(const CatalogDevice& device, const std::string& key);

} // namespace hil::packs
