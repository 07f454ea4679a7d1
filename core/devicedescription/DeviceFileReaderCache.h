// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/devicedescription/DeviceModel.h"
#include "platform/common/Status.h"

namespace hil {

/// Every device model read so far, by device name (compared without regard to case), so that a
/// device's files are parsed once. The list only grows; a failed read adds nothing.
///
/// It has no lock: its callers are commands, which the server runs one at a time.
class DeviceFileReaderCache {
public:
    /// Starts with `blankEntries` entries of empty name and no device; they only ever match the
    /// empty name, and yield no device.
    explicit DeviceFileReaderCache(unsigned int blankEntries = 0);

    /// The device cached under `name` (any letter case), or null.
    std::shared_ptr<DIDevice> getFromCache(const std::string& name) const;
    bool hasParsed(const std::string& name) const { return getFromCache(name) != nullptr; }

    /// The cached device of that name, else the file read and cached. A cached name answers
    /// whatever path is given.
    std::shared_ptr<DIDevice> parseFile(Status& status, const std::string& path, const std::string& deviceName);
    /// The same for a device described by several files.
    std::shared_ptr<DIDevice> parseFiles(Status& status, const std::vector<std::string>& paths,
                                         const std::string& deviceName);

private:
    void addToCache(const std::string& name, std::shared_ptr<DIDevice> device);
    template <class Read>
    std::shared_ptr<DIDevice> cachedRead(const char* operation, const std::string& deviceName, const Read& read);

    std::vector<std::pair<std::string, std::shared_ptr<DIDevice>>> entries_;
};

} // namespace hil
