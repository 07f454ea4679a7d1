// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <Poco/SharedLibrary.h>

namespace hil {

/// Finds an entry of the device-pack manager library "vlpackmanagerlib": in the folder of the
/// preference "packmanager.dir" when it is set, else in "application.dir" and
/// "application.dir/../vlpackmanager". The first library found that has the entry wins; it stays
/// loaded for the life of the process, since objects it made may outlive their user. Null when
/// no library has it. The Device service and the "Packs" bundle both look up the manager here,
/// so they load the one library and see the one catalog of the process.
inline void* findPackManagerEntry(const std::function<std::string(const std::string&)>& preference, const std::string& entry)
{
    const std::string file = "vlpackmanagerlib" + Poco::SharedLibrary::suffix();
    std::vector<std::string> candidates;
    if (const auto dir = preference("packmanager.dir"); !dir.empty()) {
        candidates.push_back(dir + "/" + file);
    } else {
        const auto app = preference("application.dir");
        candidates.push_back(app + "/" + file);
        candidates.push_back(app + "/../vlpackmanager/" + file);
    }
    for (const auto& candidate : candidates) {
        try {
            Poco::SharedLibrary library(candidate);
            if (library.hasSymbol(entry))
                return library.getSymbol(entry);
        } catch (...) {
            // Not there or not loadable: try the next place.
        }
    }
    return nullptr;
}

} // namespace hil
