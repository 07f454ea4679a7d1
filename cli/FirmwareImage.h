// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/common/Errors.h"

namespace hil::cli {

/// Bytes to place at one address.
struct ImageSegment {
    std::uint64_t address = 0;
    std::vector<std::uint8_t> bytes;
};

/// The processor an ELF file was built for.
struct ElfMachine {
    unsigned machine = 0; ///< the header's e_machine (40: ARM)
    unsigned bits = 32;   ///< 32 or 64, the file's class

    /// "x86-64, 64-bit".
    std::string describe() const;
};

/// What a firmware file holds, in the order of its addresses, adjacent pieces joined.
struct FirmwareImage {
    std::string format; ///< "ELF", "Intel HEX" or "binary"
    std::vector<ImageSegment> segments;
    std::optional<ElfMachine> elfMachine; ///< only for an ELF file

    std::uint64_t byteCount() const;
};

/// Thrown for a file that is none of the formats, or is one but broken; the text names the file
/// and, where there is one, the place in it.
class ImageError : public SourceFileError {
public:
    using SourceFileError::SourceFileError;
};

/// Reads an ELF file (the loadable program headers, at their physical addresses), an Intel HEX
/// file (data, extended segment and extended linear address records; every checksum checked),
/// or, given `binaryAddress`, any file as raw bytes placed there. The format is told by the
/// file's first bytes, not its name. Throws `ImageError`; `FileAccessError` for a file it
/// cannot read; `UsageError` for a file of no known format without an address.
FirmwareImage readFirmwareImage(const std::filesystem::path& file, std::optional<std::uint64_t> binaryAddress);

/// Throws `UsageError` naming both when `image` is an ELF file for another processor than a
/// device of `architecture` (as its description names it: "CORTEX-M3"); an architecture it does
/// not know, or an image of another format, passes.
void checkMachine(const FirmwareImage& image, const std::string& file, const std::string& device,
                  const std::string& architecture);

/// The same for the bytes of a file; `name` is what errors call it.
FirmwareImage parseFirmwareImage(std::vector<std::uint8_t> bytes, const std::string& name,
                                 std::optional<std::uint64_t> binaryAddress);

/// A named function or data object of an ELF file's symbol table.
struct ElfSymbol {
    std::string name;
    std::uint64_t address = 0; ///< where it starts: an ARM Thumb function's without its bit 0
    std::uint64_t size = 0;
    bool function = false;
};

/// The functions and data objects of an ELF file, to find an address by name and to name an
/// address: what `break SYMBOL` and the places of stops read.
class SymbolTable {
public:
    /// Reads the symbol table of an ELF file. Throws `FileAccessError` for a file it cannot read,
    /// `ImageError` for one that is no ELF file or has no symbol table (a stripped program).
    static SymbolTable read(const std::filesystem::path& file);
    /// The same for the bytes of a file; `name` is what errors call it.
    static SymbolTable parse(std::vector<std::uint8_t> bytes, const std::string& name);

    /// The symbol called `name` (exactly); null when there is none.
    const ElfSymbol* find(const std::string& name) const;
    /// The symbol whose bytes hold `address`, a function before an object; null when none does.
    const ElfSymbol* holding(std::uint64_t address) const;
    /// "on_tick" for the first byte of a symbol, "on_tick+0x6" inside it; empty outside every one.
    std::string placeOf(std::uint64_t address) const;
    /// The names, for the closest to a name that is not there.
    std::vector<std::string> names() const;
    /// Every symbol, by address (at one address functions first, then by name).
    const std::vector<ElfSymbol>& symbols() const { return symbols_; }
    /// The file, as it was named.
    const std::string& file() const { return file_; }

private:
    std::vector<ElfSymbol> symbols_;
    std::string file_;
};

} // namespace hil::cli
