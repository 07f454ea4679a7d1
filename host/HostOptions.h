// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/tcf/TcfServer.h"

namespace hil::host {

/// What the back-end is told on its command line. Paths default to the layout of the tree the
/// executable is in: an installed one (../lib/hilcore/bundles, preferences and settings in
/// ../share/hilcore) or the build tree (../bundles, ../etc).
struct HostOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 1534;
    std::filesystem::path bundles;
    /// The preferences that ship with the back-end, and a file the command line names instead.
    std::filesystem::path shippedPreferences;
    std::filesystem::path preferences;
    std::filesystem::path settings;
    unsigned logMask = 0x24;
    std::string logCategories;
    tcf::TcfServer::Limits limits;
    /// Whether the back-end takes part in TCF UDP discovery; unset: only when it listens on
    /// loopback, so that nothing is advertised on a network unless asked for.
    std::optional<bool> discovery;
    std::uint16_t discoveryPort = 1534;
    /// Where every target's GDB server listens: the address, and the first port tried (unset: a
    /// target gets a GDB server only when its tool asks for one).
    std::string gdbServerAddress = "127.0.0.1";
    std::optional<std::uint16_t> gdbServerFirstPort;
    bool help = false;
    bool version = false;
};

/// Thrown for a command line that cannot be understood; the text says why.
class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Reads the command line (without the program name). Throws `OptionError`.
HostOptions parseHostOptions(const std::vector<std::string>& arguments, const std::filesystem::path& executableDir);

/// True for a numeric loopback address (127.0.0.0/8, ::1).
bool isLoopbackAddress(const std::string& address);

/// The text `--help` prints.
std::string hostUsage();

} // namespace hil::host
