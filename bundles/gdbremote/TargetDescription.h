// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hil::gdbremote {

/// One register a server describes in its target.xml.
struct RemoteRegister {
    std::string name;
    int bitSize = 0;
    int number = 0; ///< the number `p`/`P` use
    std::string type;
    std::string group;
};

/// One area of a server's memory map.
struct MemoryArea {
    std::string type; ///< "ram", "rom" or "flash"
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    std::uint64_t blockSize = 0; ///< flash only: the erase unit
    bool contains(std::uint64_t address) const { return address >= start && address - start < length; }
};

/// Reads the annexes of a target description: (annex name) -> its whole text.
using AnnexReader = std::function<std::string(const std::string& annex)>;

/// The registers of target.xml and of the annexes it includes (`xi:include href=`), in document
/// order. A register without "regnum" takes the number after the previous one. Throws
/// `std::runtime_error` naming the annex for XML that does not parse, a register without a name
/// or with a bit size outside 1..4096, more than `maxRegisters` registers, includes nested
/// deeper than 8, or more than 64 annexes in all.
std::vector<RemoteRegister> parseTargetDescription(const AnnexReader& read, std::size_t maxRegisters = 4096);

/// The areas of a memory map document, in document order. Throws `std::runtime_error` for XML
/// that does not parse or an area without a start or length.
std::vector<MemoryArea> parseMemoryMap(const std::string& xml);

} // namespace hil::gdbremote
