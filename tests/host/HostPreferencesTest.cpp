// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <map>

#include "host/HostPreferences.h"
#include "platform/common/HomeFolder.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::host {
namespace {

// Each source sets "who" to its own name; the winner is the one the back-end reads.
TEST(HostPreferences, WhatTheUserWritesWinsOverTheEnvironmentWhichWinsOverWhatShips)
{
    struct Case {
        const char* name;
        bool shipped, environment, user, named;
        const char* winner;
    };
    const Case cases[] = {
        {"shipped only", true, false, false, false, "shipped"},
        {"environment over shipped", true, true, false, false, "/env/a,/env/b"},
        {"user file over environment", true, true, true, false, "user"},
        {"named file over user file", true, true, true, true, "named"},
        {"named file replaces shipped", true, false, false, true, "named"},
        {"nothing at all", false, false, false, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fakes::TempDirectory folder;
        PreferenceFiles files{folder.path() / "absent", {}};
        if (c.shipped)
            files.shipped = folder.write("shipped/preferences.properties", "packs.folders = shipped\nonly.shipped = ${config.dir}\n");
        if (c.named)
            files.named = folder.write("named.properties", "packs.folders = named\n");
        if (c.user)
            folder.write("config/hilcore/preferences.properties", "packs.folders = user\n");
        const std::map<std::string, std::string> variables{
            {"XDG_CONFIG_HOME", (folder.path() / "config").string()},
            {"HIL_PACK_FOLDERS", c.environment ? "/env/a:/env/b" : ""}};
        const auto preferences = readPreferences(files, [&](const char* name) {
            const auto found = variables.find(name);
            return found == variables.end() ? nullptr : found->second.c_str();
        });
        EXPECT_EQ(preferences->getString("packs.folders", ""), c.winner);
        // A shipped value keeps naming the shipped folder whatever is layered over it, and is
        // not read at all when the command line names another file.
        const auto shippedFolder = c.shipped && !c.named ? (folder.path() / "shipped").string() : "";
        EXPECT_EQ(preferences->getString("only.shipped", ""), shippedFolder);
    }
}

TEST(HostPreferences, TheUsersFileIsInTheXdgConfigHomeElseInDotConfig)
{
    const auto at = [](const char* config) {
        return userPreferencesFile([&](const char* name) { return std::string(name) == "XDG_CONFIG_HOME" ? config : nullptr; });
    };
    EXPECT_EQ(at("/x"), "/x/hilcore/preferences.properties");
    EXPECT_EQ(at(""), expandHome("~/.config/hilcore/preferences.properties"));
}

} // namespace
} // namespace hil::host
