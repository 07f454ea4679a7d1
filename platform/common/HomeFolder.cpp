// SPDX-License-Identifier: Apache-2.0
#include "platform/common/HomeFolder.h"

#include <cstdlib>
#include <filesystem>

namespace hil {

std::string expandHome(const std::string& path)
{
    if (path != "~" && path.rfind("~/", 0) != 0)
        return path;
    const char* home = std::getenv("HOME");
    return (home && *home ? std::string(home) : std::filesystem::temp_directory_path().string()) + path.substr(1);
}

} // namespace hil
