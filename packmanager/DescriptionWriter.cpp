// SPDX-License-Identifier: Apache-2.0
#include "packmanager/DescriptionWriter.h"

#include <map>
#include <set>

#include <boost/algorithm/string.hpp>

#include "core/interfaces/PropertyKeys.h"

namespace hil::packs {

std::string architectureOf(const std::string& core)
{
    // The spellings the rest of the back-end knows, such as keys::Architecture::CORTEX_M0PLUS.
    static const std::map<std::string, std::string> kSvdCores{
        {"CM0", "CORTEX-M0"},   {"CM0PLUS", keys::Architecture::CORTEX_M0PLUS}, {"CM0+", keys::Architecture::CORTEX_M0PLUS},
        {"CM1", "CORTEX-M1"},   {"CM3", keys::Architecture::CORTEX_M3}, {"CM4", keys::Architecture::CORTEX_M4},
        {"CM7", keys::Architecture::CORTEX_M7}, {"CM23", "CORTEX-M23"}, {"CM33", "CORTEX-M33"},
        {"CM35P", "CORTEX-M35P"}, {"CM55", "CORTEX-M55"}, {"CM85", "CORTEX-M85"}};
    const auto upper = boost::algorithm::to_upper_copy(core);
    const auto known = kSvdCores.find(upper);
    return known == kSvdCores.end() ? boost::algorithm::replace_all_copy(upper, "+", "PLUS") : known->second;
}

namespace {

/// Appends XML text, escaped for an attribute value or element content.
class XmlText {
public:
    XmlText& raw(const std::string& text)
    {
        out_ += text;
        return *this;
    }
    XmlText& raw(const char* text)
    {
        out_ += text;
        return *this;
    }
    /// ` name="value"`, escaped.
    XmlText& attribute(const char* name, const std::string& value)
    {
        out_ += ' ';
        out_ += name;
        out_ += "=\"";
        for (const char c : value) {
            switch (c) {
            case '&': out_ += "&amp;"; break;
            case '<': out_ += "&lt;"; break;
            case '>': out_ += "&gt;"; break;
            case '"': out_ += "&quot;"; break;
            case '\n': case '\r': case '\t': out_ += ' '; break;
            default:
                // Control characters are not allowed in XML at all.
                if (static_cast<unsigned char>(c) >= 0x20)
                    out_ += c;
            }
        }
        out_ += '"';
        return *this;
    }
    XmlText& hexAttribute(const char* name, std::uint64_t value)
    {
        char digits[24];
        int at = static_cast<int>(sizeof digits);
        do {
            digits[--at] = "0123456789ABCDEF"[value & 0xF];
            value >>= 4;
        } while (value);
        out_ += ' ';
        out_ += name;
        out_ += "=\"0x";
        out_.append(digits + at, digits + sizeof digits);
        out_ += '"';
        return *this;
    }
    /// An attribute only when the value is not empty.
    XmlText& optionalAttribute(const char* name, const std::string& value)
    {
        return value.empty() ? *this : attribute(name, value);
    }
    std::string take() { return std::move(out_); }

private:
    std::string out_;
};

void collectValueGroups(const SvdRegisterBlock& block, std::map<std::string, const SvdField*>& groups)
{
    for (const auto& reg : block.registers)
        for (const auto& field : reg.fields)
            if (!field.valuesName.empty())
                groups.emplace(field.valuesName, &field);
    for (const auto& cluster : block.clusters)
        collectValueGroups(cluster.block, groups);
}

void writeRegisterGroup(XmlText& xml, const std::string& name, std::uint64_t size, const SvdRegisterBlock& block,
                        std::set<std::string>& writtenClusters, std::vector<const SvdCluster*>& pending)
{
    xml.raw("      <register-group").attribute("name", name).hexAttribute("size", std::max<std::uint64_t>(size, 1)).raw(">\n");
    for (const auto& reg : block.registers) {
        xml.raw("        <register")
            .attribute("name", reg.name)
            .hexAttribute("offset", reg.offset)
            .attribute("size", std::to_string(reg.bytes()))
            .attribute("rw", descriptionRw(reg.access))
            .hexAttribute("initval", reg.resetValue)
            .optionalAttribute("access", reg.readHasSideEffect ? "side-effect-on-read" : "")
            .optionalAttribute("description", reg.description);
        if (reg.fields.empty()) {
            xml.raw("/>\n");
            continue;
        }
        xml.raw(">\n");
        for (const auto& field : reg.fields)
            xml.raw("          <bitfield")
                .attribute("name", field.name)
                .hexAttribute("mask", field.mask())
                .attribute("rw", descriptionRw(field.access))
                .optionalAttribute("values", field.valuesName)
                .optionalAttribute("description", field.description)
                .raw("/>\n");
        xml.raw("        </register>\n");
    }
    for (const auto& cluster : block.clusters) {
        xml.raw("        <register-group")
            .attribute("name", cluster.name)
            .attribute("name-in-module", cluster.layoutName)
            .hexAttribute("offset", cluster.offset)
            .optionalAttribute("description", cluster.description)
            .raw("/>\n");
        if (writtenClusters.insert(cluster.layoutName).second)
            pending.push_back(&cluster);
    }
    xml.raw("      </register-group>\n");
}

void writeModule(XmlText& xml, const SvdPeripheral& layout)
{
    xml.raw("    <module").attribute("name", layout.layoutName).attribute("id", layout.layoutName).raw(" version=\"1\">\n");
    std::map<std::string, const SvdField*> valueGroups;
    collectValueGroups(layout.block, valueGroups);
    for (const auto& [name, field] : valueGroups) {
        xml.raw("      <value-group").attribute("name", name).raw(">\n");
        for (const auto& value : field->values)
            xml.raw("        <value")
                .attribute("name", value.name)
                .hexAttribute("value", value.value)
                .optionalAttribute("description", value.description)
                .raw("/>\n");
        xml.raw("      </value-group>\n");
    }
    std::set<std::string> writtenClusters;
    std::vector<const SvdCluster*> pending;
    writeRegisterGroup(xml, layout.layoutName, std::max(layout.addressBlockEnd, layout.block.extent()), layout.block,
                       writtenClusters, pending);
    // Each cluster layout once, however many copies and however deep it nests.
    for (std::size_t next = 0; next < pending.size(); ++next) {
        const SvdCluster& cluster = *pending[next];
        writeRegisterGroup(xml, cluster.layoutName, cluster.block.extent(), cluster.block, writtenClusters, pending);
    }
    xml.raw("    </module>\n");
}

} // namespace

std::string DescriptionWriter::write(const SvdDevice& device, const PackDevice* pack, const std::string& source)
{
    XmlText xml;
    xml.raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- ")
        .raw(boost::algorithm::replace_all_copy(device.name + ", generated from " + source, "--", "- -"))
        .raw(" -->\n<hil-device-file>\n");
    // First, where someone opening the file sees them; the Device service passes over them.
    if (!device.warnings.empty()) {
        xml.raw("  <warnings>\n");
        for (const auto& warning : device.warnings)
            xml.raw("    <warning").attribute("text", warning).raw("/>\n");
        xml.raw("  </warnings>\n");
    }
    xml.raw("  <modules>\n");

    // Layouts in the order their first peripheral comes, each with the peripherals that use it.
    std::vector<const SvdPeripheral*> layouts;
    std::map<std::string, std::vector<const SvdPeripheral*>> users;
    for (const auto& peripheral : device.peripherals) {
        auto& list = users[peripheral.layoutName];
        if (list.empty())
            layouts.push_back(&peripheral);
        list.push_back(&peripheral);
    }
    for (const auto* layout : layouts)
        writeModule(xml, *layout);
    xml.raw("  </modules>\n  <devices>\n    <device")
        .attribute("architecture", architectureOf(pack && !pack->core.empty() ? pack->core : device.cpu.name))
        .attribute("series", pack && !pack->family.empty() ? pack->family : device.name)
        .raw(">\n      <address-spaces>\n        <address-space id=\"base\" start=\"0x0\" size=\"0x100000000\"")
        .attribute("endianness", boost::algorithm::istarts_with(pack && !pack->endian.empty() ? pack->endian : device.cpu.endian, "big") ? "big" : "little")
        .raw(">\n");
    if (pack)
        for (const auto& memory : pack->memories)
            xml.raw("          <memory-segment")
                .attribute("name", memory.name)
                .hexAttribute("start", memory.start)
                .hexAttribute("size", memory.size)
                .attribute("type", memory.isFlash() ? "flash" : "ram")
                .attribute("rw", memory.access.empty() ? "RW" : (memory.access.find('w') != std::string::npos ? "RW" : "R"))
                .attribute("exec", memory.access.find('x') != std::string::npos ? "1" : "0")
                .raw(" wordsize=\"4\"/>\n");
    xml.raw("        </address-space>\n      </address-spaces>\n      <peripherals>\n");
    for (const auto* layout : layouts) {
        xml.raw("        <module").attribute("name", layout->layoutName).attribute("id", layout->layoutName).raw(" version=\"1\">\n");
        for (const auto* peripheral : users[layout->layoutName])
            xml.raw("          <instance")
                .attribute("name", peripheral->name)
                .optionalAttribute("description", peripheral->description)
                .optionalAttribute("group", peripheral->groupName)
                .raw(">\n            <register-group")
                .attribute("name", peripheral->name)
                .attribute("name-in-module", layout->layoutName)
                .raw(" address-space=\"base\"")
                .hexAttribute("offset", peripheral->baseAddress)
                .raw("/>\n          </instance>\n");
        xml.raw("        </module>\n");
    }
    xml.raw("      </peripherals>\n      <property-groups>\n        <property-group name=\"CPU\">\n");
    const auto property = [&](const char* name, const std::string& value) {
        if (!value.empty())
            xml.raw("          <property").attribute("name", name).attribute("value", value).raw("/>\n");
    };
    property("name", device.cpu.name);
    property("revision", device.cpu.revision);
    property("endian", device.cpu.endian);
    property("mpuPresent", device.cpu.mpuPresent ? "true" : "false");
    property("fpuPresent", device.cpu.fpuPresent ? "true" : "false");
    property("nvicPrioBits", std::to_string(device.cpu.nvicPrioBits));
    xml.raw("        </property-group>\n        <property-group name=\"DEVICE\">\n");
    property("vendor", pack && !pack->vendor.empty() ? pack->vendor : device.vendor);
    property("version", device.version);
    property("description", device.description);
    if (pack) {
        property("family", pack->family);
        property("subFamily", pack->subFamily);
        property("core", pack->core);
        property("fpu", pack->fpu);
        property("mpu", pack->mpu);
        property("clock", pack->clock);
    }
    xml.raw("        </property-group>\n      </property-groups>\n    </device>\n  </devices>\n</hil-device-file>\n");
    return xml.take();
}

} // namespace hil::packs
