// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/devicedescription/DeviceModel.h"
#include "core/interfaces/IRegistersContext.h"

namespace hil::gdbserver {

/// A register as gdb numbers it: its place in `g`/`G` and its `p`/`P` number are its index.
struct RegisterSlot {
    std::string name;
    int bytes = 4;
    std::shared_ptr<IRegistersContext> context;
};

/// The target's registers in gdb's order: the Cortex-M core registers (r0-r12, sp, lr, pc, xpsr)
/// first, as gdb's "m-profile" feature wants them, then the others as the target lists them.
std::vector<RegisterSlot> registerLayout(const std::vector<std::shared_ptr<IRegistersContext>>& registers);

/// The target description gdb reads (`qXfer:features:read:target.xml`): the core registers as
/// the ARM M-profile feature when all of them are there (and the architecture "arm"), the rest
/// in a feature of ours.
std::string targetXml(const std::vector<RegisterSlot>& layout);

/// An area of the memory map gdb is given.
struct MapArea {
    enum class Kind { Ram, Rom, Flash };
    Kind kind = Kind::Ram;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    /// A flash area's erase block, bytes.
    std::uint64_t blockSize = 0;
    /// Peripheral registers: RAM to gdb, but a read may not give what the last one did.
    bool peripheral = false;
};

/// The areas of the device description's segments: "FLASH" segments as flash (their page size the
/// block, 1 KiB when they give none), read-only ones as ROM, the others as RAM ("io" ones marked
/// as peripherals). Overlapping or
/// empty segments are left out: gdb refuses a whole map for one overlap.
std::vector<MapArea> memoryAreas(const DIDevice& device);

/// `qXfer:memory-map:read` of `areas`.
std::string memoryMapXml(const std::vector<MapArea>& areas);

} // namespace hil::gdbserver
