// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>

#include <Poco/AutoPtr.h>
#include <Poco/Util/AbstractConfiguration.h>

namespace hil::osp {

/// The key that holds, in every file `readPropertiesFile` reads, the folder of that file: a value
/// written "${config.dir}/../devices" follows the file when its tree is moved.
inline constexpr const char* kConfigDirKey = "config.dir";

/// Reads a properties file ("key = value" lines), with `kConfigDirKey` set to its folder; values
/// read through `getString` expand "${key}" references. Throws `Poco::Exception` when the file
/// cannot be read.
Poco::AutoPtr<Poco::Util::AbstractConfiguration> readPropertiesFile(const std::filesystem::path& file);

} // namespace hil::osp
