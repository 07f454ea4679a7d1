// SPDX-License-Identifier: Apache-2.0
// What the run-control verbs read from their words and how they name stops and breakpoints: the
// parts of them that need no back-end.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <boost/json/object.hpp>

namespace hil::cli {

class SymbolTable;

/// What a run-control verb takes besides its target.
struct DebugVerbShape {
    std::string verb;
    std::string usage;                ///< the whole of it, for errors: "[TARGET] [N] [--elf FILE]"
    std::size_t least = 0;            ///< words it needs, the target not counted
    std::size_t most = 0;             ///< words it takes, the target not counted
    std::vector<std::string> flags{}; ///< options without a value: "--hw"
    std::vector<std::string> options{}; ///< options with one: "--elf", "--timeout"
    bool takesTarget = true;
};

/// A run-control verb's words, read: the target where one was given, its options, the rest.
struct DebugArguments {
    std::optional<std::string> target;
    std::vector<std::string> words;
    std::set<std::string> flags;
    std::map<std::string, std::string> options;
};

/// Reads a run-control verb's words: options anywhere; the first word is the target when there
/// is one word more than the verb takes, or when `isTarget` says it names one (`step T` and
/// `step 10` both read). Throws `UsageError` naming the verb and its usage, also for a target
/// given without the words the verb needs.
DebugArguments readDebugArguments(const std::vector<std::string>& arguments, const DebugVerbShape& shape,
                                  const std::function<bool(const std::string&)>& isTarget);

/// The target of a verb: the one given when it has run control, else the only target that has;
/// throws `UsageError` saying which have (`targets`) when that does not decide.
std::string chooseTarget(const std::optional<std::string>& given, const std::vector<std::string>& targets,
                         const std::string& verb);

/// A target's run state, as getState replies it and contextSuspended tells it.
struct RunState {
    bool suspended = false;
    std::optional<std::uint64_t> pc;
    std::string reason;
    boost::json::object data; ///< "Signal", "BPs", "DataAddress", ...
};

/// The id this client gives its breakpoint `number` on the wire: unique to this process on this
/// host, so that breakpoints of two clients never share an id.
std::string breakpointWireId(int number);
/// The number of this client's breakpoint of wire id `id`; none for another client's id.
std::optional<int> breakpointNumber(const std::string& id);

/// "0x00000400 (on_tick)": the address with the symbol that holds it, when `symbols` has one.
std::string placeText(std::uint64_t address, const SymbolTable* symbols);

/// A stop for people: "Breakpoint 1 at 0x00000400 (on_tick)", "Watchpoint 2 at 0x000004A6
/// (reset_handler+0x26), data 0x20000000 (tick_count)", "Signal at 0x00000410, signal 11". The
/// breakpoints hit are this client's numbers, or other clients' ids.
std::string describeStop(const RunState& state, const SymbolTable* symbols);

/// A stop as --json data: {"suspended", "pc", "reason", "symbol", "breakpoints", "data"}.
boost::json::object stopData(const RunState& state, const SymbolTable* symbols);

} // namespace hil::cli
