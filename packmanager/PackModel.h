// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hil::packs {

/// A flash or RAM region a pack declares for a device.
struct PackMemory {
    std::string name;
    /// "rx", "rwx", ...: r read, w write, x execute; empty when the pack gives none.
    std::string access;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    bool isDefault = false;
    bool startup = false;

    /// Written only through a programming algorithm: readable, not writable by a store.
    bool isFlash() const { return !access.empty() && access.find('w') == std::string::npos; }
};

/// One device of a pack, with what it inherits from its family, sub-family and device.
struct PackDevice {
    std::string name;
    std::string vendor;
    std::string family;
    std::string subFamily;
    std::string core;   ///< "Cortex-M3"
    std::string fpu;    ///< "SP_FPU", "NO_FPU", ...
    std::string mpu;    ///< "MPU", "NO_MPU"
    std::string endian; ///< "Little-endian", "Big-endian", "Configurable"
    std::string clock;  ///< in Hz, as the pack writes it
    std::string description;
    /// The device's SVD, relative to the pack's root; empty when the pack names none.
    std::string svd;
    std::vector<PackMemory> memories;
};

} // namespace hil::packs
