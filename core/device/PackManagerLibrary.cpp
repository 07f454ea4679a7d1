// SPDX-License-Identifier: Apache-2.0
#include "core/device/PackManagerLibrary.h"

#include <vector>

#include <Poco/SharedLibrary.h>

namespace hil {

void* findPackManagerEntry(const std::function<std::string(const std::string&)>& preference, const std::string& entry)
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
