// SPDX-License-Identifier: Apache-2.0
// A small ELF file made in memory: a header and a symbol table, enough for the symbol lookup.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <elf.h>

namespace hil::cli::testing_elf {

struct Symbol {
    std::string name;
    std::uint32_t value;
    std::uint32_t size;
    unsigned char type;                   ///< STT_FUNC, STT_OBJECT, STT_NOTYPE, ...
    std::uint16_t section = SHN_ABS;      ///< SHN_UNDEF for one only referred to
};

/// A 32-bit little-endian ELF file for `machine` with `symbols` in its ".symtab" (or, without
/// `withTable`, with its string tables alone).
inline std::vector<std::uint8_t> elfWithSymbols(std::uint16_t machine, const std::vector<Symbol>& symbols,
                                                bool withTable = true)
{
    std::string names(1, '\0');
    std::vector<Elf32_Sym> entries(1); // the first entry is the null symbol
    for (const auto& symbol : symbols) {
        Elf32_Sym entry{};
        entry.st_name = static_cast<Elf32_Word>(names.size());
        entry.st_value = symbol.value;
        entry.st_size = symbol.size;
        entry.st_info = ELF32_ST_INFO(STB_GLOBAL, symbol.type);
        entry.st_shndx = symbol.section;
        entries.push_back(entry);
        names += symbol.name + '\0';
    }
    const std::string sectionNames = std::string("\0.strtab\0.symtab\0.shstrtab\0", 27);
    std::vector<std::uint8_t> file(sizeof(Elf32_Ehdr));
    const auto append = [&](const void* data, std::size_t size) {
        const auto at = file.size();
        file.resize(at + size);
        std::memcpy(file.data() + at, data, size);
        return static_cast<Elf32_Off>(at);
    };
    const Elf32_Off namesAt = append(names.data(), names.size());
    const Elf32_Off tableAt = append(entries.data(), entries.size() * sizeof(Elf32_Sym));
    const Elf32_Off sectionNamesAt = append(sectionNames.data(), sectionNames.size());
    while (file.size() % 4)
        file.push_back(0);

    const auto stringTable = [](Elf32_Word name, Elf32_Off offset, std::size_t size) {
        Elf32_Shdr table{};
        table.sh_name = name;
        table.sh_type = SHT_STRTAB;
        table.sh_offset = offset;
        table.sh_size = static_cast<Elf32_Word>(size);
        table.sh_addralign = 1;
        return table;
    };
    std::vector<Elf32_Shdr> sections(1);
    sections.push_back(stringTable(1, namesAt, names.size()));
    if (withTable) {
        Elf32_Shdr symtab{};
        symtab.sh_name = 9;
        symtab.sh_type = SHT_SYMTAB;
        symtab.sh_offset = tableAt;
        symtab.sh_size = static_cast<Elf32_Word>(entries.size() * sizeof(Elf32_Sym));
        symtab.sh_link = 1;
        symtab.sh_info = 1;
        symtab.sh_entsize = sizeof(Elf32_Sym);
        symtab.sh_addralign = 4;
        sections.push_back(symtab);
    }
    sections.push_back(stringTable(17, sectionNamesAt, sectionNames.size()));
    const Elf32_Off sectionsAt = append(sections.data(), sections.size() * sizeof(Elf32_Shdr));

    Elf32_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS32;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_EXEC;
    header.e_machine = machine;
    header.e_version = EV_CURRENT;
    header.e_shoff = sectionsAt;
    header.e_ehsize = sizeof(Elf32_Ehdr);
    header.e_shentsize = sizeof(Elf32_Shdr);
    header.e_shnum = static_cast<Elf32_Half>(sections.size());
    header.e_shstrndx = static_cast<Elf32_Half>(sections.size() - 1);
    std::memcpy(file.data(), &header, sizeof header);
    return file;
}

} // namespace hil::cli::testing_elf
