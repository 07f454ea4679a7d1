// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "core/frame/ServiceBase.h"
#include "core/interfaces/ISimplePackService.h"
#include "packmanager/DescriptionView.h"
#include "packmanager/IPackCatalog.h"

namespace hil::packs {

/// The preference listing the pack folders, separated by commas ("~" is the home folder).
inline const std::string kPackFoldersPreference = "packs.folders";

/// What the "Packs" service answers: the devices of the pack manager (its index and its catalog
/// of SVD files and packs) as JSON data. The catalog is the one the Device service uses, so a
/// rescan here is seen there.
class PacksService : public ServiceBase<IServiceBase> {
public:
    /// Finds the pack manager library as the Device service does; without it every answer
    /// fails. Sets the catalog's folders from the preference when it is set.
    explicit PacksService(IOrixDebugger& debugger);
    /// For tests: a service over the given manager and catalog.
    PacksService(IOrixDebugger& debugger, std::shared_ptr<ISimplePackService> packs, IPackCatalog* catalog);

    /// [{name, vendor, family, core, source}] of the devices whose name, vendor or family
    /// contains `filter` in any case; sorted by name.
    boost::json::array list(const std::string& filter) const;
    /// {name, vendor, family, subFamily, core, fpu, mpu, endian, clock, memories, source, svd,
    /// file, peripherals, warnings: [text]}, the warnings saying what reading its SVD left out
    /// or clamped; throws for an unknown device.
    boost::json::object show(const std::string& name);
    /// [{name, address, size, description, module, registers}], in the description's order.
    boost::json::array peripherals(const std::string& name);
    /// {name, address, size, description, registers: [{name, address, size, rw, description,
    /// sideEffect, fields: [{name, mask, rw, description, values: [{name, value, description}]}]}]}.
    boost::json::object registers(const std::string& name, const std::string& peripheral);
    /// Scans the pack folders again: {devices, problems: [{source, text}]}.
    boost::json::object rescan();
    /// [{source, text}]: what kept a source or a device from being used.
    boost::json::array problems() const;

private:
    void requireManager() const;
    std::string canonicalName(const std::string& name) const;
    std::string property(const std::string& name, const std::string& key) const;
    std::shared_ptr<const std::vector<ViewPeripheral>> view(const std::string& name);

    std::shared_ptr<ISimplePackService> packs_;
    IPackCatalog* catalog_ = nullptr;
    std::mutex viewMutex_;
    std::string viewFile_;
    std::shared_ptr<const std::vector<ViewPeripheral>> view_;
};

} // namespace hil::packs
