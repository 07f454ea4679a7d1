// SPDX-License-Identifier: Apache-2.0
#include "host/HostPreferences.h"

#include <algorithm>
#include <array>

#include <Poco/Util/MapConfiguration.h>

#include "platform/common/HomeFolder.h"
#include "platform/osp/PropertiesFile.h"

namespace hil::host {

namespace {

namespace fs = std::filesystem;
using Configuration = Poco::Util::AbstractConfiguration;

constexpr std::array kEnvironmentSettings{
    EnvironmentSetting{"HIL_PACK_FOLDERS", "packs.folders", ':', "the pack folders, ':'-separated"},
    EnvironmentSetting{"HIL_PACK_DIR", "", 0, "the pack index folder (default: the sample devices)"},
    EnvironmentSetting{"HIL_PACK_CACHE", "", 0, "the pack cache (default: ~/.cache/hilcore/packs)"},
    EnvironmentSetting{"HIL_QEMU", "", 0, "the QEMU executable (default: qemu-system-arm on the PATH)"},
};

/// Copies every value `layer` holds into `merged`, each expanded within its own file, so that a
/// shipped "${config.dir}" still names the shipped folder under a user's file that sets others.
void copyValues(const Configuration& layer, const std::string& prefix, Poco::Util::MapConfiguration& merged)
{
    Configuration::Keys keys;
    layer.keys(prefix, keys);
    for (const auto& key : keys) {
        const auto full = prefix.empty() ? key : prefix + "." + key;
        if (full == osp::kConfigDirKey)
            continue;
        if (layer.hasProperty(full))
            merged.setString(full, layer.getString(full));
        copyValues(layer, full, merged);
    }
}

void copyFile(const fs::path& file, Poco::Util::MapConfiguration& merged)
{
    if (!file.empty() && fs::exists(file))
        copyValues(*osp::readPropertiesFile(file), "", merged);
}

} // namespace

std::span<const EnvironmentSetting> environmentSettings()
{
    return kEnvironmentSettings;
}

fs::path userPreferencesFile(const Environment& environment)
{
    const char* config = environment("XDG_CONFIG_HOME");
    const fs::path folder = config && *config ? fs::path(config) : fs::path(expandHome("~/.config"));
    return folder / "hilcore" / "preferences.properties";
}

Poco::AutoPtr<Configuration> readPreferences(const PreferenceFiles& files, const Environment& environment)
{
    // Lowest first: each later source overwrites what it sets.
    Poco::AutoPtr<Poco::Util::MapConfiguration> merged = new Poco::Util::MapConfiguration;
    if (files.named.empty())
        copyFile(files.shipped, *merged);
    for (const auto& setting : kEnvironmentSettings) {
        const char* value = environment(setting.variable);
        if (!*setting.preference || !value || !*value)
            continue;
        std::string list = value;
        std::replace(list.begin(), list.end(), setting.listSeparator, ',');
        merged->setString(setting.preference, list);
    }
    copyFile(userPreferencesFile(environment), *merged);
    copyFile(files.named, *merged);
    return merged;
}

std::string preferencesUsage()
{
    std::string text = "\nPreferences, the first that sets a key wins: the --preferences FILE, the user's\n"
                       "$XDG_CONFIG_HOME/hilcore/preferences.properties (else ~/.config/hilcore/...), the\n"
                       "environment, the shipped preferences (read only when no --preferences names a file).\n"
                       "\nEnvironment:\n";
    for (const auto& setting : kEnvironmentSettings) {
        std::string line = std::string("  ") + setting.variable;
        line.resize(20, ' ');
        text += line + setting.meaning;
        if (*setting.preference)
            text += std::string(" (preference ") + setting.preference + ")";
        text += "\n";
    }
    return text;
}

} // namespace hil::host
