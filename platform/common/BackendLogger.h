// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <string>

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>

namespace hil {

/// Bits of the global log mask: a level is written only when its bit is set.
namespace LogMask {
constexpr unsigned Debug = 0x02;
constexpr unsigned Info = 0x04;
constexpr unsigned Error = 0x20;
} // namespace LogMask

/// The process-wide log mask. Default: info and error.
extern std::atomic<unsigned> gLogMask;

/// Log categories whose names the core shares with other bundles.
extern const std::string L_HIL; ///< device resolution and the pack manager
extern const std::string L_DBG; ///< the device cache

/// Logging by category on top of Poco's `Logger`: category "x" writes to the Poco logger
/// "hil.x" (the empty category to "hil"), so Poco's channels and formats apply as configured.
///
/// `debug`, `info` and `error` write only when the level's bit is set in `gLogMask` and the
/// category is enabled for that level; callers need no checks of their own. Every category is
/// enabled until `enableCategories` names a list.
class BackendLogger {
public:
    static void debug(const std::string& category, const std::string& message);
    static void info(const std::string& category, const std::string& message);
    static void error(const std::string& category, const std::string& message);
    /// Writes an error line that only the mask's error bit gates, whatever the categories say.
    static void errorUnfiltered(const std::string& category, const std::string& message);

    static bool debug_enabled(const std::string& category);
    static bool info_enabled(const std::string& category);
    static bool error_enabled(const std::string& category);

    /// True when a `debug` line of this category would be written; for callers whose message is
    /// costly to build.
    static bool debugOn(const std::string& category);

    /// Enables only the categories of a comma-separated list ("" for the empty category counts
    /// when written as a lone comma); the empty text or "*" enables every category.
    static void enableCategories(const std::string& commaSeparated);

    /// Sends every line to standard error as "time [level] category: message".
    static void useConsole();
    /// Sends every line to `channel` (null: nowhere), for every category, existing or not.
    static void setChannel(const Poco::AutoPtr<Poco::Channel>& channel);
};

} // namespace hil
