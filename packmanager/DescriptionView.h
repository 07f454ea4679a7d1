// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "packmanager/SvdModel.h"

namespace hil::packs {

struct ViewField {
    std::string name;
    std::string description;
    std::string rw;
    std::uint64_t mask = 0;
    /// The field's named values; empty when it has none.
    std::vector<SvdValue> values;
};

struct ViewRegister {
    /// With the path of the nested groups it is in ("CH0.CTRL").
    std::string name;
    std::string description;
    std::string rw;
    std::uint64_t address = 0;
    /// In bytes.
    std::uint32_t size = 0;
    /// Reading it changes the target: a peripheral view must not read it unasked.
    bool readHasSideEffect = false;
    std::vector<ViewField> fields;
};

/// One placed register group of a module instance: what an IDE's peripheral view shows as one
/// peripheral. Named as the instance when the instance has one group, else as the group.
struct ViewPeripheral {
    std::string name;
    std::string description;
    std::string module;
    std::string addressSpace;
    std::uint64_t address = 0;
    std::uint64_t size = 0;
    /// The byte order of its address space.
    bool bigEndian = false;
    std::vector<ViewRegister> registers;
};

/// The peripherals of a description file, every register placed at its address.
class DescriptionView {
public:
    /// Nested groups deeper than this are taken as a group that holds itself.
    static constexpr int kMaxNesting = 16;

    /// Reads `file`. Each fault found (a reference that names nothing, a register outside its
    /// address space, a mask outside its register or empty) is added to `faults` when it is not
    /// null, naming the instance and register; the element at fault is left out either way.
    /// Throws `PackSourceError` when the file is not XML or not a description file.
    static std::vector<ViewPeripheral> read(const std::filesystem::path& file, std::vector<std::string>* faults = nullptr);
    /// The same for the text of a description file; `source` is what errors call it.
    static std::vector<ViewPeripheral> readText(const std::string& text, const std::string& source,
                                                std::vector<std::string>* faults = nullptr);

    /// What the import of its SVD left out or clamped, as the file's `<warnings>` says; none
    /// when it has none. Only that element is parsed, not the whole file. Throws
    /// `PackSourceError` when the element is not XML.
    static std::vector<std::string> readWarnings(const std::filesystem::path& file);
    /// The same for the text of a description file; `source` is what errors call it.
    static std::vector<std::string> readWarningsText(const std::string& text, const std::string& source);
};

} // namespace hil::packs
