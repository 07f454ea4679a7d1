// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/devicedescription/DeviceModel.h"
#include "platform/common/Status.h"

namespace hil {

/// Reads device description files (XML, ".tdesc") into the device model. The status arguments
/// are left as they are: every failure is a `CoreException` (component "HIL", code 1).
///
/// Documents are checked before they are parsed, so that a hostile one ends in a read error in
/// bounded time and memory: at most `kMaxDocumentBytes`, elements nested at most `kMaxDepth`
/// deep, at most `kMaxElements` elements, and no document type declaration but one that only
/// names the root (without an internal subset no entity can be declared, so none can expand).
/// Definitions are looked up by name in constant time, so reading grows with the size of the file.
class OrixToolsDeviceFileReader {
public:
    static constexpr std::size_t kMaxDocumentBytes = 32u << 20;
    static constexpr std::size_t kMaxDepth = 256;
    static constexpr std::size_t kMaxElements = 1'000'000;

    /// Reads one file. A path that does not exist fails with "Device could not be recognized,
    /// check spelling: NAME" before anything is read.
    static std::shared_ptr<DIDevice> parseFile(Status& status, const std::string& path, const std::string& deviceName);
    /// Reads every file, in order, into one device: lists grow file by file; a later file's
    /// architecture, series and parameters replace earlier ones when it has them.
    static std::shared_ptr<DIDevice> parseFiles(Status& status, const std::vector<std::string>& paths,
                                                const std::string& deviceName);
    /// Reads `xml` as if it were a file.
    static std::shared_ptr<DIDevice> parseText(Status& status, const std::string& xml, const std::string& deviceName);
};

} // namespace hil
