// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include <Poco/AutoPtr.h>
#include <Poco/Util/AbstractConfiguration.h>

namespace hil::host {

/// An environment variable the back-end or its bundles read. `preference` names the preference
/// it gives a value to (empty: none; the variable is read where it is used), with its list
/// separator turned into the preference's comma.
struct EnvironmentSetting {
    const char* variable;
    const char* preference;
    char listSeparator;
    const char* meaning;
};

/// Every such variable, in the order `--help` lists them.
std::span<const EnvironmentSetting> environmentSettings();

/// Looks an environment variable up; null when it is unset.
using Environment = std::function<const char*(const char*)>;

/// The user's own preferences: $XDG_CONFIG_HOME/hilcore/preferences.properties, else
/// ~/.config/hilcore/preferences.properties.
std::filesystem::path userPreferencesFile(const Environment& environment);

/// The files a back-end's preferences come from.
struct PreferenceFiles {
    /// The preferences that ship with the back-end.
    std::filesystem::path shipped;
    /// A file named on the command line, read instead of the shipped one; empty when none is.
    std::filesystem::path named;
};

/// The preferences the back-end runs with. What the user writes wins over what the environment
/// says, which wins over what ships: a file named on the command line, then the user's own file
/// (when it exists), then the environment's settings, then the shipped preferences (only when
/// no file is named). A file that is missing is skipped, one that cannot be read throws
/// `Poco::Exception`.
Poco::AutoPtr<Poco::Util::AbstractConfiguration> readPreferences(const PreferenceFiles& files,
                                                                 const Environment& environment);

/// The order above and the variables, for `--help`.
std::string preferencesUsage();

} // namespace hil::host
