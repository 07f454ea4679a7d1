// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "packmanager/PackModel.h"

namespace hil::packs {

/// What one pack description (.pdsc) declares.
struct PackDescription {
    std::string vendor;
    std::string name;
    /// The newest release, the first one listed; empty when there is none.
    std::string version;
    /// Every device of the family / subFamily / device / variant tree, each with what it
    /// inherits. A device with variants is listed as its variants.
    std::vector<PackDevice> devices;
};

/// Reads .pdsc files.
class PdscReader {
public:
    /// Throws `PackSourceError` naming `sourceName` and the element at fault.
    static PackDescription read(const std::string& text, const std::string& sourceName);
};

} // namespace hil::packs
