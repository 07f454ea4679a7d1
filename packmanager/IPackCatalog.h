// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "packmanager/PackModel.h"

namespace hil::packs {

/// A device the pack folders hold: a loose SVD file or a device of a pack.
struct CatalogDevice {
    std::string name;
    /// The file it was found in: the .svd, the .pdsc of an unzipped pack, or the .pack archive.
    std::string source;
    /// Its SVD: a path, or for an archive the entry inside it; empty when its pack names none.
    std::string svd;
    /// What its pack says of it; for a loose SVD file only the name, vendor and core (of its <cpu>).
    PackDevice pack;
};

/// A source that gave no device, or gave one the catalog cannot use.
struct CatalogProblem {
    std::string source;
    std::string text;
};

/// The devices of the pack folders, shared by everything in the back-end that asks for devices
/// (the Device service through its pack service, and the "Packs" service). Safe to use from
/// several threads.
class IPackCatalog {
public:
    virtual ~IPackCatalog() = default;

    /// Replaces the folders searched, in order (the first device of a name wins); the next use
    /// scans them.
    virtual void setFolders(const std::vector<std::string>& folders) = 0;
    /// Scans the folders again; sources unchanged since the cache was written are not read.
    virtual void rescan() = 0;
    /// The devices whose name, vendor or family contains `filter` in any case ("" for all),
    /// sorted by name.
    virtual std::vector<CatalogDevice> devices(const std::string& filter) const = 0;
    virtual std::vector<CatalogProblem> problems() const = 0;
};

/// The type of vlpackmanagerlib's exported "getPackCatalog": the process's one catalog, owned
/// by the library.
using GetPackCatalogFunction = IPackCatalog* (*)();

} // namespace hil::packs
