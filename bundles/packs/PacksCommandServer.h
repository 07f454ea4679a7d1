// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>

#include "bundles/packs/PacksService.h"
#include "core/frame/CommandServerFor.h"

namespace hil::packs {

/// The "Packs" commands, each replying an error slot and one JSON value:
///   "list" ([FILTER])              the devices, optionally those matching FILTER
///   "show" (NAME)                  one device's summary
///   "peripherals" (NAME)           its peripherals with base address and description
///   "registers" (NAME, PERIPHERAL) that peripheral's registers, fields and field values
///   "rescan" ()                    scans the pack folders again
///   "problems" ()                  what kept a source or device from being used
class PacksCommandServer : public CommandServerFor<PacksService> {
public:
    PacksCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);

private:
};

} // namespace hil::packs
