// SPDX-License-Identifier: Apache-2.0
#include "cli/FirmwareImage.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string_view>
#include <tuple>

#include <boost/algorithm/string/case_conv.hpp>

#include <gelf.h>
#include <libelf.h>

#include "platform/common/HexDigit.h"

namespace hil::cli {

namespace {

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw FileAccessError("cannot read " + file.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string hexAddress(std::uint64_t address)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(address));
    return text;
}

/// Sorts the segments by address and joins those that touch; refuses two that overlap.
std::vector<ImageSegment> joined(std::vector<ImageSegment> segments, const std::string& file)
{
    std::sort(segments.begin(), segments.end(),
              [](const ImageSegment& a, const ImageSegment& b) { return a.address < b.address; });
    std::vector<ImageSegment> result;
    for (auto& segment : segments) {
        if (segment.bytes.empty())
            continue;
        if (!result.empty()) {
            auto& last = result.back();
            const std::uint64_t end = last.address + last.bytes.size();
            if (segment.address < end)
                throw ImageError(file + ": two pieces overlap at address " + hexAddress(segment.address));
            if (segment.address == end) {
                last.bytes.insert(last.bytes.end(), segment.bytes.begin(), segment.bytes.end());
                continue;
            }
        }
        result.push_back(std::move(segment));
    }
    return result;
}

using ElfHandle = std::unique_ptr<Elf, int (*)(Elf*)>;

/// libelf's view of an ELF image in memory; `bytes` must outlive it.
ElfHandle openElf(std::vector<std::uint8_t>& bytes, const std::string& name)
{
    if (elf_version(EV_CURRENT) == EV_NONE)
        throw ImageError("libelf cannot be used: " + std::string(elf_errmsg(-1)));
    ElfHandle elf(elf_memory(reinterpret_cast<char*>(bytes.data()), bytes.size()), elf_end);
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF)
        throw ImageError(name + ": not an ELF file libelf can read");
    return elf;
}

/// The loadable segments of an ELF image in memory, at their physical addresses, and the
/// processor it is for.
std::vector<ImageSegment> elfSegments(std::vector<std::uint8_t>& bytes, const std::string& name,
                                      std::optional<ElfMachine>& machine)
{
    const auto elf = openElf(bytes, name);
    GElf_Ehdr fileHeader;
    if (!gelf_getehdr(elf.get(), &fileHeader))
        throw ImageError(name + ": its ELF header cannot be read: " + elf_errmsg(-1));
    machine = ElfMachine{fileHeader.e_machine, gelf_getclass(elf.get()) == ELFCLASS64 ? 64u : 32u};
    std::size_t count = 0;
    if (elf_getphdrnum(elf.get(), &count) != 0)
        throw ImageError(name + ": its program headers cannot be read: " + elf_errmsg(-1));
    std::vector<ImageSegment> segments;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Phdr header;
        if (!gelf_getphdr(elf.get(), static_cast<int>(i), &header))
            throw ImageError(name + ": program header " + std::to_string(i) + " cannot be read");
        if (header.p_type != PT_LOAD || header.p_filesz == 0)
            continue;
        if (header.p_offset > bytes.size() || header.p_filesz > bytes.size() - header.p_offset)
            throw ImageError(name + ": program header " + std::to_string(i) + " reaches past the end of the file");
        // The physical address: where the bytes are stored, flash for what runs from RAM.
        const auto* start = bytes.data() + header.p_offset;
        segments.push_back({header.p_paddr, std::vector<std::uint8_t>(start, start + header.p_filesz)});
    }
    if (segments.empty())
        throw ImageError(name + ": an ELF file without a loadable segment");
    return segments;
}

std::vector<ImageSegment> hexSegments(const std::vector<std::uint8_t>& text, const std::string& file)
{
    std::vector<ImageSegment> segments;
    std::uint64_t base = 0;
    bool ended = false;
    std::size_t lineNumber = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::find(text.begin() + at, text.end(), '\n') - text.begin();
        std::string line(text.begin() + at, text.begin() + end);
        at = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const auto fail = [&](const std::string& why) -> ImageError {
            return ImageError(file + " line " + std::to_string(lineNumber) + ": " + why);
        };
        if (ended)
            throw fail("a record after the end-of-file record");
        if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0)
            throw fail("not an Intel HEX record");
        std::vector<std::uint8_t> record;
        for (std::size_t i = 1; i < line.size(); i += 2) {
            const int high = hexDigitValue(line[i]);
            const int low = hexDigitValue(line[i + 1]);
            if (high < 0 || low < 0)
                throw fail("not an Intel HEX record");
            record.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
        const std::size_t length = record[0];
        if (record.size() != length + 5)
            throw fail("its length says " + std::to_string(length) + " bytes of data");
        std::uint8_t sum = 0;
        for (const auto byte : record)
            sum = static_cast<std::uint8_t>(sum + byte);
        if (sum != 0)
            throw fail("wrong checksum");
        const std::uint64_t offset = (record[1] << 8) | record[2];
        const std::uint8_t* data = record.data() + 4;
        switch (record[3]) {
        case 0x00: segments.push_back({base + offset, std::vector<std::uint8_t>(data, data + length)}); break;
        case 0x01: ended = true; break;
        case 0x02:
        case 0x04:
            if (length != 2)
                throw fail("an extended address record holds two bytes");
            base = static_cast<std::uint64_t>((data[0] << 8) | data[1]) << (record[3] == 0x02 ? 4 : 16);
            break;
        case 0x03:
        case 0x05: break; // start addresses: where to run, not what to write
        default: throw fail("unknown record type " + std::to_string(record[3]));
        }
    }
    if (!ended)
        throw ImageError(file + ": no end-of-file record (the file is cut short?)");
    return segments;
}

} // namespace

std::uint64_t FirmwareImage::byteCount() const
{
    std::uint64_t count = 0;
    for (const auto& segment : segments)
        count += segment.bytes.size();
    return count;
}

FirmwareImage readFirmwareImage(const std::filesystem::path& file, std::optional<std::uint64_t> binaryAddress)
{
    return parseFirmwareImage(fileBytes(file), file.string(), binaryAddress);
}

std::string ElfMachine::describe() const
{
    static const std::map<unsigned, std::string> names{{EM_ARM, "ARM"},       {EM_AARCH64, "AArch64"},
                                                       {EM_X86_64, "x86-64"}, {EM_386, "x86"},
                                                       {EM_RISCV, "RISC-V"}};
    const auto found = names.find(machine);
    return (found == names.end() ? "machine " + std::to_string(machine) : found->second) + ", " +
           std::to_string(bits) + "-bit";
}

void checkMachine(const FirmwareImage& image, const std::string& file, const std::string& device,
                  const std::string& architecture)
{
    // Architectures as descriptions name them, by the start of the name.
    struct Expected {
        std::string_view prefix;
        ElfMachine machine;
    };
    static constexpr Expected kExpected[] = {{"CORTEX-M", {EM_ARM, 32}}, {"CORTEX-R", {EM_ARM, 32}},
                                             {"ARMV6-M", {EM_ARM, 32}},  {"ARMV7", {EM_ARM, 32}},
                                             {"ARMV8-M", {EM_ARM, 32}},  {"RV32", {EM_RISCV, 32}}};
    if (!image.elfMachine)
        return;
    const auto folded = boost::algorithm::to_upper_copy(architecture);
    for (const auto& expected : kExpected)
        if (folded.rfind(expected.prefix, 0) == 0 && (image.elfMachine->machine != expected.machine.machine ||
                                                      image.elfMachine->bits != expected.machine.bits))
            throw UsageError(file + " is an ELF file for " + image.elfMachine->describe() + ", but " + device +
                             " is a " + architecture + " (" + expected.machine.describe() + "); nothing was written");
}

FirmwareImage parseFirmwareImage(std::vector<std::uint8_t> bytes, const std::string& name,
                                 std::optional<std::uint64_t> binaryAddress)
{
    FirmwareImage image;
    if (binaryAddress) {
        image.format = "binary";
        image.segments = {{*binaryAddress, std::move(bytes)}};
    } else if (bytes.size() >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F') {
        image.format = "ELF";
        image.segments = elfSegments(bytes, name, image.elfMachine);
    } else if (!bytes.empty() && bytes[0] == ':') {
        image.format = "Intel HEX";
        image.segments = hexSegments(bytes, name);
    } else {
        throw UsageError(name + " is neither an ELF nor an Intel HEX file (a binary image needs --address)");
    }
    image.segments = joined(std::move(image.segments), name);
    if (image.segments.empty())
        throw ImageError(name + " holds no bytes to load");
    return image;
}

SymbolTable SymbolTable::read(const std::filesystem::path& file)
{
    return parse(fileBytes(file), file.string());
}

SymbolTable SymbolTable::parse(std::vector<std::uint8_t> bytes, const std::string& name)
{
    if (bytes.size() < 4 || bytes[0] != 0x7F || bytes[1] != 'E' || bytes[2] != 'L' || bytes[3] != 'F')
        throw ImageError(name + " is no ELF file: symbols come from the ELF file the firmware was built as");
    const auto elf = openElf(bytes, name);
    GElf_Ehdr fileHeader;
    if (!gelf_getehdr(elf.get(), &fileHeader))
        throw ImageError(name + ": its ELF header cannot be read: " + elf_errmsg(-1));
    // The full table where there is one; a shared library's dynamic one otherwise.
    Elf_Scn* table = nullptr;
    GElf_Shdr tableHeader{};
    for (Elf_Scn* section = elf_nextscn(elf.get(), nullptr); section; section = elf_nextscn(elf.get(), section)) {
        GElf_Shdr header;
        if (!gelf_getshdr(section, &header))
            throw ImageError(name + ": a section header cannot be read: " + elf_errmsg(-1));
        if (header.sh_type == SHT_SYMTAB || (header.sh_type == SHT_DYNSYM && !table)) {
            table = section;
            tableHeader = header;
        }
    }
    if (!table)
        throw ImageError(name + " has no symbol table (a stripped file?)");
    SymbolTable symbols;
    symbols.file_ = name;
    const bool thumb = fileHeader.e_machine == EM_ARM;
    for (Elf_Data* data = elf_getdata(table, nullptr); data; data = elf_getdata(table, data)) {
        const std::size_t count = tableHeader.sh_entsize ? data->d_size / tableHeader.sh_entsize : 0;
        for (std::size_t i = 0; i < count; ++i) {
            GElf_Sym entry;
            if (!gelf_getsym(data, static_cast<int>(i), &entry))
                continue;
            const int type = GELF_ST_TYPE(entry.st_info);
            if ((type != STT_FUNC && type != STT_OBJECT) || entry.st_shndx == SHN_UNDEF || entry.st_name == 0)
                continue;
            const char* text = elf_strptr(elf.get(), tableHeader.sh_link, entry.st_name);
            if (!text || !*text)
                continue;
            // An ARM function's bit 0 says Thumb code; the code starts at the even address.
            const std::uint64_t address = type == STT_FUNC && thumb ? entry.st_value & ~std::uint64_t{1} : entry.st_value;
            symbols.symbols_.push_back({text, address, entry.st_size, type == STT_FUNC});
        }
    }
    std::sort(symbols.symbols_.begin(), symbols.symbols_.end(), [](const ElfSymbol& a, const ElfSymbol& b) {
        return std::tie(a.address, b.function, a.name) < std::tie(b.address, a.function, b.name);
    });
    return symbols;
}

const ElfSymbol* SymbolTable::find(const std::string& name) const
{
    const auto found = std::find_if(symbols_.begin(), symbols_.end(), [&](const ElfSymbol& s) { return s.name == name; });
    return found == symbols_.end() ? nullptr : &*found;
}

const ElfSymbol* SymbolTable::holding(std::uint64_t address) const
{
    const ElfSymbol* best = nullptr;
    for (const auto& symbol : symbols_) {
        if (symbol.address > address)
            break;
        const bool holds = address == symbol.address || address - symbol.address < symbol.size;
        // At one address functions come first; a function beats an object that also holds it.
        if (holds && (!best || (symbol.function && !best->function) ||
                      (symbol.function == best->function && symbol.address > best->address)))
            best = &symbol;
    }
    return best;
}

std::string SymbolTable::placeOf(std::uint64_t address) const
{
    const ElfSymbol* symbol = holding(address);
    if (!symbol)
        return "";
    if (address == symbol->address)
        return symbol->name;
    char offset[24];
    std::snprintf(offset, sizeof offset, "+0x%llx", static_cast<unsigned long long>(address - symbol->address));
    return symbol->name + offset;
}

std::vector<std::string> SymbolTable::names() const
{
    std::vector<std::string> names;
    for (const auto& symbol : symbols_)
        names.push_back(symbol.name);
    return names;
}

} // namespace hil::cli
