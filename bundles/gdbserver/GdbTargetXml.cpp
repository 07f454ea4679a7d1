// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbserver/GdbTargetXml.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace hil::gdbserver {

namespace {

/// The registers gdb's Cortex-M description needs, in its order.
constexpr std::array<const char*, 17> kCoreRegisters{"r0", "r1", "r2",  "r3", "r4", "r5", "r6", "r7",  "r8",
                                                     "r9", "r10", "r11", "r12", "sp", "lr", "pc", "xpsr"};
constexpr std::uint64_t kDefaultFlashBlock = 0x400;

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string nameOf(const IRegistersContext& context)
{
    const auto properties = context.getProperties();
    if (const auto* name = properties.if_contains("Name"); name && name->is_string())
        return std::string(name->get_string());
    const std::string id = context.getId();
    return id.substr(id.rfind('.') + 1);
}

/// `text` safe inside an XML attribute: register names come from description files.
std::string attribute(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string registerLine(const RegisterSlot& slot, std::size_t number, const char* type)
{
    return "<reg name=\"" + attribute(slot.name) + "\" bitsize=\"" + std::to_string(slot.bytes * 8) + "\" regnum=\"" +
           std::to_string(number) + "\" type=\"" + type + "\"/>";
}

const char* typeOf(const std::string& name) { return name == "sp" ? "data_ptr" : name == "pc" ? "code_ptr" : "int"; }

} // namespace

std::vector<RegisterSlot> registerLayout(const std::vector<std::shared_ptr<IRegistersContext>>& registers)
{
    std::vector<RegisterSlot> core;
    std::vector<RegisterSlot> others;
    for (const auto& context : registers) {
        RegisterSlot slot{lowered(nameOf(*context)), context->getSize(), context};
        if (slot.bytes <= 0)
            continue;
        const bool isCore = std::find(kCoreRegisters.begin(), kCoreRegisters.end(), slot.name) != kCoreRegisters.end();
        (isCore ? core : others).push_back(std::move(slot));
    }
    std::sort(core.begin(), core.end(), [](const RegisterSlot& a, const RegisterSlot& b) {
        const auto rank = [](const std::string& name) { return std::find(kCoreRegisters.begin(), kCoreRegisters.end(), name) - kCoreRegisters.begin(); };
        return rank(a.name) < rank(b.name);
    });
    core.insert(core.end(), std::make_move_iterator(others.begin()), std::make_move_iterator(others.end()));
    return core;
}

std::string targetXml(const std::vector<RegisterSlot>& layout)
{
    const bool cortexM = layout.size() >= kCoreRegisters.size() &&
                         std::equal(kCoreRegisters.begin(), kCoreRegisters.end(), layout.begin(),
                                    [](const char* name, const RegisterSlot& slot) { return slot.name == name && slot.bytes == 4; });
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE target SYSTEM \"gdb-target.dtd\">\n<target version=\"1.0\">\n";
    std::size_t number = 0;
    if (cortexM) {
        xml += "<architecture>arm</architecture>\n<feature name=\"org.gnu.gdb.arm.m-profile\">\n";
        for (; number < kCoreRegisters.size(); ++number)
            xml += registerLine(layout[number], number, typeOf(layout[number].name)) + "\n";
        xml += "</feature>\n";
    }
    if (number < layout.size()) {
        xml += "<feature name=\"org.hilcore.registers\">\n";
        for (; number < layout.size(); ++number)
            xml += registerLine(layout[number], number, "int") + "\n";
        xml += "</feature>\n";
    }
    return xml + "</target>\n";
}

std::vector<MapArea> memoryAreas(const DIDevice& device)
{
    std::vector<MapArea> areas;
    for (const auto& space : device.getAddressSpaces()) {
        const auto segments = space->getMemorySegments();
        if (std::none_of(segments.begin(), segments.end(), [](const auto& segment) { return segment->isExecutable(); }))
            continue; // the program's space is the one gdb sees; data spaces (EEPROM) overlap it
        for (const auto& segment : segments) {
            MapArea area;
            area.start = segment->getStart();
            area.size = segment->getSize();
            const std::string type = lowered(segment->getType());
            if (type == "flash") {
                area.kind = MapArea::Kind::Flash;
                area.blockSize = segment->getPageSize() > 0 ? static_cast<std::uint64_t>(segment->getPageSize()) : kDefaultFlashBlock;
            } else if (!segment->isWritable()) {
                area.kind = MapArea::Kind::Rom;
            }
            area.peripheral = type == "io";
            const bool overlaps = std::any_of(areas.begin(), areas.end(), [&](const MapArea& other) {
                return area.start < other.start + other.size && other.start < area.start + area.size;
            });
            if (area.size > 0 && !overlaps)
                areas.push_back(area);
        }
        break;
    }
    std::sort(areas.begin(), areas.end(), [](const MapArea& a, const MapArea& b) { return a.start < b.start; });
    return areas;
}

std::string memoryMapXml(const std::vector<MapArea>& areas)
{
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE memory-map PUBLIC \"+//IDN gnu.org//DTD GDB Memory Map V1.0//EN\" "
                      "\"http://sourceware.org/gdb/gdb-memory-map.dtd\">\n<memory-map>\n";
    for (const auto& area : areas) {
        const char* kind = area.kind == MapArea::Kind::Flash ? "flash" : area.kind == MapArea::Kind::Rom ? "rom" : "ram";
        xml += std::string("<memory type=\"") + kind + "\" start=\"" + hex(area.start) + "\" length=\"" + hex(area.size) + "\"";
        if (area.kind == MapArea::Kind::Flash)
            xml += "><property name=\"blocksize\">" + hex(area.blockSize) + "</property></memory>\n";
        else
            xml += "/>\n";
    }
    return xml + "</memory-map>\n";
}

} // namespace hil::gdbserver
