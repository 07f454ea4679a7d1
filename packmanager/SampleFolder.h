// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>

namespace hil::packs {

/// The sample devices for a program or library at `binary`: share/hilcore/devices of the installed
/// tree it sits in (bin/ or lib/ beside share/), else `builtIn`, the folder of the build tree.
inline std::filesystem::path sampleFolderFor(const std::filesystem::path& binary, const std::filesystem::path& builtIn)
{
    const auto installed = binary.parent_path().parent_path() / "share" / "hilcore" / "devices";
    return std::filesystem::is_directory(installed) ? installed : builtIn;
}

} // namespace hil::packs
