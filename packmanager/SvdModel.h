// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hil::packs {

/// What a program may do with a register or field. Files write it in any letter case, and some
/// write "read" and "write" for read-only and write-only.
enum class SvdAccess { ReadOnly, WriteOnly, ReadWrite, WriteOnce, ReadWriteOnce };

/// One named value of a field.
struct SvdValue {
    std::string name;
    std::string description;
    std::uint64_t value = 0;
};

/// Bits of a register: `width` bits from `lsb` up.
struct SvdField {
    std::string name;
    std::string description;
    std::uint32_t lsb = 0;
    std::uint32_t width = 1;
    SvdAccess access = SvdAccess::ReadWrite;
    /// The name of the field's value list in its peripheral's layout; empty when it has none.
    /// Copies of one field made by "dim" share it.
    std::string valuesName;
    std::vector<SvdValue> values;

    std::uint64_t mask() const;
};

struct SvdRegister {
    std::string name;
    std::string description;
    /// From the start of the peripheral or cluster holding it, in bytes.
    std::uint64_t offset = 0;
    /// 1 to 64, as the file gives it: not always a whole number of bytes.
    std::uint32_t sizeBits = 32;
    SvdAccess access = SvdAccess::ReadWrite;
    std::uint64_t resetValue = 0;
    /// Reading it changes the target's state (a FIFO, a flag cleared on read).
    bool readHasSideEffect = false;
    std::vector<SvdField> fields;

    /// What one read of it takes: its bits rounded up to whole bytes.
    std::uint32_t bytes() const;
};

struct SvdCluster;

/// The registers and clusters of a peripheral or cluster, in the file's order.
struct SvdRegisterBlock {
    std::vector<SvdRegister> registers;
    std::vector<SvdCluster> clusters;

    /// The bytes from offset 0 to the end of the last register, clusters included.
    std::uint64_t extent() const;
};

struct SvdCluster {
    std::string name;
    std::string description;
    std::uint64_t offset = 0;
    /// Clusters of one layout (the copies of a "dim" cluster) share it; unique in the peripheral.
    std::string layoutName;
    SvdRegisterBlock block;
};

struct SvdPeripheral {
    std::string name;
    std::string description;
    std::string groupName;
    std::uint64_t baseAddress = 0;
    /// The largest end of its address blocks, in bytes; 0 when it gives none.
    std::uint64_t addressBlockEnd = 0;
    /// Peripherals of one register layout share it: a peripheral derived from another without
    /// registers of its own, and the copies of a "dim" peripheral.
    std::string layoutName;
    SvdRegisterBlock block;
};

struct SvdCpu {
    std::string name;
    std::string revision;
    std::string endian = "little";
    bool mpuPresent = false;
    bool fpuPresent = false;
    std::uint32_t nvicPrioBits = 0;
};

/// One device of an SVD file, with every derivedFrom, dim and inherited property resolved.
struct SvdDevice {
    std::string name;
    std::string vendor;
    std::string version;
    std::string description;
    std::uint32_t addressUnitBits = 8;
    std::uint32_t width = 32;
    SvdCpu cpu;
    std::vector<SvdPeripheral> peripherals;
    /// What was left out or clamped to read the rest, each naming the file and the element
    /// ("f.svd: UART0.CTRL.EN: bits [36:26] are outside its 32-bit register; kept as [31:26]").
    std::vector<std::string> warnings;
};

} // namespace hil::packs
