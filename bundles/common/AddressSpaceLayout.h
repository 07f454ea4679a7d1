// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

#include <boost/json/object.hpp>

#include "core/devicedescription/DeviceModel.h"

namespace hil::bundles {

/// What a memory context tells clients about the address space it reaches: its bounds, byte
/// order, and the kinds of access its segments take (instructions where a segment executes,
/// data where one does not, io where one is of type "io").
struct AddressSpaceLayout {
    std::string name;
    std::uint64_t start = 0;
    std::uint64_t end = 0; ///< one past the last address
    bool bigEndian = false;
    bool instructions = false;
    bool data = false;
    bool io = false;

    /// The layout of a described space, from the segments that lie (partly) inside it.
    static AddressSpaceLayout of(const DIAddressSpace& space);

    /// 2, 4 or 8: the bytes an address of the space needs.
    int addressSize() const;
    /// "ID", "ParentID", "Name", "StartBound", "EndBound", "AddressSize", "BigEndian",
    /// "AccessTypes", in that order.
    boost::json::object properties(const std::string& id, const std::string& parentId) const;
};

} // namespace hil::bundles
