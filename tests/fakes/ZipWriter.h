// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <Poco/DateTime.h>
#include <Poco/Path.h>
#include <Poco/Zip/Compress.h>

namespace hil::fakes {

/// Writes a ZIP archive of `entries` (path inside the archive with '/' separators, text), as a
/// pack file is; its folder is made when missing.
inline void writeZip(const std::filesystem::path& file, const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    Poco::Zip::Compress zip(out, true);
    for (const auto& [name, text] : entries) {
        std::istringstream in(text);
        zip.addFile(in, Poco::DateTime(), Poco::Path(name, Poco::Path::PATH_UNIX));
    }
    zip.close();
}

} // namespace hil::fakes
