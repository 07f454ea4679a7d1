#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/tcf/TcfServer.h"

namespace hil::host {

/// What the back-end is told on its command line. Paths default to the layout of the build and
/// install trees: bundles in ../bundles and preferences and settings in ../etc, seen from the
/// executable.
struct HostOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 1534;
    std::filesystem::path bundles;
    std::filesystem::path preferences;
    std::filesystem::path settings;
    unsigned logMask = 0x24;
    std::string logCategories;
    tcf::TcfServer::Limits limits;
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

/// The text `--help` prints.
std::string hostUsage();

} // namespace hil::host
