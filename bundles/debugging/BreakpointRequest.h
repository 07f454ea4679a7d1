// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/object.hpp>

#include "core/interfaces/IRunControl.h"

namespace hil::debugging {

/// A breakpoint or watchpoint as a client asked for it, read once from its properties.
///
/// The properties are kept as they came (clients read them back unchanged). What this back-end
/// cannot honour (no address, a size no watchpoint has, a condition) is not a reason to lose the
/// breakpoint: `problem` says why it is planted nowhere, and its status tells the client.
struct BreakpointRequest {
    std::string id;
    boost::json::object properties;
    bool enabled = false;
    std::uint64_t address = 0;
    StopPointKind kind = StopPointKind::SoftwareBreakpoint;
    /// The bytes a watchpoint covers; 2 (a Thumb instruction) for a breakpoint.
    std::uint64_t size = 2;
    /// The targets it is for; empty: every target.
    std::vector<std::string> contextIds;
    std::uint64_t ignoreCount = 0;
    bool temporary = false;
    /// Why it cannot be planted; empty when it can.
    std::string problem;
    /// The TCF error code of the problem: 18 a location that is no address, 15 a size no
    /// watchpoint has, 23 a property not supported, 3 a property of the wrong kind.
    int problemCode = 0;

    /// Throws the argument error for properties that are not an object with a text "ID".
    static BreakpointRequest read(const boost::json::value& properties);

    bool isWatchpoint() const { return kind != StopPointKind::SoftwareBreakpoint && kind != StopPointKind::HardwareBreakpoint; }
    bool appliesTo(const std::string& targetId) const;
};

/// "Software", "Hardware", or "Software (written to memory)" when the driver wrote the
/// instruction itself; a watchpoint is always "Hardware".
std::string breakpointTypeName(StopPointKind kind);

} // namespace hil::debugging
