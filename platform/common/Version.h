// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace hil {

/// The release, as the build files give it.
extern const char* const kVersion;
/// Where the sources stood when they were built (`git describe`).
extern const char* const kBuildDescription;

/// The line `--version` prints: "PROGRAM VERSION (DESCRIPTION)".
inline std::string versionLine(const std::string& program)
{
    return program + " " + kVersion + " (" + kBuildDescription + ")";
}

} // namespace hil
