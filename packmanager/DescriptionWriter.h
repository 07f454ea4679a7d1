// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "packmanager/PackModel.h"
#include "packmanager/SvdModel.h"

namespace hil::packs {

/// The architecture name description files use ("CORTEX-M3", "CORTEX-M0PLUS") for a core as
/// packs ("Cortex-M3", "Cortex-M0+") or SVD files ("CM3", "CM0PLUS") write it; anything else
/// upper-cased, with "+" spelled "PLUS".
std::string architectureOf(const std::string& core);

/// The pack's value of `field` when `pack` is not null and gives one, else `svdValue`: what a
/// pack says of a device wins over its SVD's, since one SVD often serves a whole family.
std::string packOrSvd(const PackDevice* pack, std::string PackDevice::*field, const std::string& svdValue);

/// Writes a device as one description file the Device service reads.
///
/// Each register layout becomes a module definition (peripherals sharing a layout share it) with
/// one register group, its clusters nested register groups, its fields bit-fields and their
/// enumerations value groups; each peripheral a module instance at its base address in the one
/// address space "base", which covers the 32-bit bus. The pack's memory regions, when there is a
/// pack, are its segments. Descriptions travel as "description" attributes, which readers that
/// do not know them pass over; so do the device's warnings, as a `<warnings>` element holding a
/// `<warning text=.../>` for each, before the modules. Line breaks and tabs in a text are
/// written as spaces, other control characters not at all: XML cannot hold them.
class DescriptionWriter {
public:
    /// `pack` may be null (a loose SVD file); `source` is named in the file's header comment.
    static std::string write(const SvdDevice& device, const PackDevice* pack, const std::string& source);
};

} // namespace hil::packs
