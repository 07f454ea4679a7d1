// SPDX-License-Identifier: Apache-2.0
#include "packmanager/DescriptionWriter.h"

#include <map>
#include <set>
#include <sstream>

#include <Poco/SAX/AttributesImpl.h>
#include <Poco/XML/XMLWriter.h>
#include <boost/algorithm/string.hpp>

#include "core/interfaces/PropertyKeys.h"
#include "packmanager/PackXml.h"

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

std::string packOrSvd(const PackDevice* pack, std::string PackDevice::*field, const std::string& svdValue)
{
    return pack && !(pack->*field).empty() ? pack->*field : svdValue;
}

namespace {

using Poco::XML::XMLWriter;

/// "R", "W" or "RW", as description files write it.
std::string descriptionRw(SvdAccess access)
{
    switch (access) {
    case SvdAccess::ReadOnly:
        return "R";
    case SvdAccess::WriteOnly:
    case SvdAccess::WriteOnce:
        return "W";
    default:
        return "RW";
    }
}

/// `text` as an attribute can hold it: XML cannot write most control characters at all, and a
/// line break the writer kept (as "&#10;") would split the one-line texts readers show.
std::string attributeText(const std::string& text)
{
    std::string safe;
    safe.reserve(text.size());
    for (const char c : text) {
        if (c == '\n' || c == '\r' || c == '\t')
            safe += ' ';
        else if (static_cast<unsigned char>(c) >= 0x20)
            safe += c;
    }
    return safe;
}

/// An element's attributes (the writer puts them in the order of their names).
class Attributes {
public:
    Attributes& text(const char* name, const std::string& value)
    {
        attributes_.addAttribute("", "", name, "CDATA", attributeText(value));
        return *this;
    }
    Attributes& hex(const char* name, std::uint64_t value) { return text(name, hexText(value)); }
    /// An attribute only when the value is not empty.
    Attributes& optional(const char* name, const std::string& value) { return value.empty() ? *this : text(name, value); }
    const Poco::XML::AttributesImpl& all() const { return attributes_; }

private:
    Poco::XML::AttributesImpl attributes_;
};

/// Poco's writer, each level indented by two spaces, with the calls this file makes. An element
/// closed with nothing in it is written as an empty one.
class Xml {
public:
    /// Writes the XML declaration and `comment`.
    Xml(std::ostream& out, const std::string& comment)
        : writer_(out, XMLWriter::WRITE_XML_DECLARATION | XMLWriter::PRETTY_PRINT)
    {
        writer_.setNewLine(XMLWriter::NEWLINE_LF);
        writer_.setIndent("  ");
        writer_.startDocument();
        writer_.comment(comment.data(), 0, static_cast<int>(comment.size()));
    }
    void open(const char* name, const Attributes& attributes = {}) { writer_.startElement("", "", name, attributes.all()); }
    void close(const char* name) { writer_.endElement("", "", name); }
    void leaf(const char* name, const Attributes& attributes) { writer_.emptyElement("", "", name, attributes.all()); }
    void finish() { writer_.endDocument(); }

private:
    XMLWriter writer_;
};

Attributes moduleAttributes(const std::string& layoutName)
{
    Attributes attributes;
    attributes.text("name", layoutName).text("id", layoutName).text("version", "1");
    return attributes;
}

void collectValueGroups(const SvdRegisterBlock& block, std::map<std::string, const SvdField*>& groups)
{
    for (const auto& reg : block.registers)
        for (const auto& field : reg.fields)
            if (!field.valuesName.empty())
                groups.emplace(field.valuesName, &field);
    for (const auto& cluster : block.clusters)
        collectValueGroups(cluster.block, groups);
}

void writeRegister(Xml& xml, const SvdRegister& reg)
{
    xml.open("register", Attributes().text("name", reg.name).hex("offset", reg.offset).text("size", std::to_string(reg.bytes()))
                             .text("rw", descriptionRw(reg.access)).hex("initval", reg.resetValue)
                             .optional("access", reg.readHasSideEffect ? "side-effect-on-read" : "")
                             .optional("description", reg.description));
    for (const auto& field : reg.fields)
        xml.leaf("bitfield", Attributes().text("name", field.name).hex("mask", field.mask()).text("rw", descriptionRw(field.access))
                                 .optional("values", field.valuesName).optional("description", field.description));
    xml.close("register");
}

void writeRegisterGroup(Xml& xml, const std::string& name, std::uint64_t size, const SvdRegisterBlock& block,
                        std::set<std::string>& writtenClusters, std::vector<const SvdCluster*>& pending)
{
    xml.open("register-group", Attributes().text("name", name).hex("size", std::max<std::uint64_t>(size, 1)));
    for (const auto& reg : block.registers)
        writeRegister(xml, reg);
    for (const auto& cluster : block.clusters) {
        xml.leaf("register-group", Attributes().text("name", cluster.name).text("name-in-module", cluster.layoutName)
                                       .hex("offset", cluster.offset).optional("description", cluster.description));
        if (writtenClusters.insert(cluster.layoutName).second)
            pending.push_back(&cluster);
    }
    xml.close("register-group");
}

void writeModule(Xml& xml, const SvdPeripheral& layout)
{
    xml.open("module", moduleAttributes(layout.layoutName));
    std::map<std::string, const SvdField*> valueGroups;
    collectValueGroups(layout.block, valueGroups);
    for (const auto& [name, field] : valueGroups) {
        xml.open("value-group", Attributes().text("name", name));
        for (const auto& value : field->values)
            xml.leaf("value", Attributes().text("name", value.name).hex("value", value.value)
                                  .optional("description", value.description));
        xml.close("value-group");
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
    xml.close("module");
}

/// The peripherals of one register layout, in the file's order.
using Layout = std::vector<const SvdPeripheral*>;

/// Each layout once, in the order its first peripheral comes.
std::vector<Layout> layoutsOf(const SvdDevice& device)
{
    std::vector<Layout> layouts;
    std::map<std::string, std::size_t> positions;
    for (const auto& peripheral : device.peripherals) {
        const auto [position, added] = positions.try_emplace(peripheral.layoutName, layouts.size());
        if (added)
            layouts.emplace_back();
        layouts[position->second].push_back(&peripheral);
    }
    return layouts;
}

void writeWarnings(Xml& xml, const std::vector<std::string>& warnings)
{
    if (warnings.empty())
        return;
    xml.open("warnings");
    for (const auto& warning : warnings)
        xml.leaf("warning", Attributes().text("text", warning));
    xml.close("warnings");
}

void writeAddressSpaces(Xml& xml, const SvdDevice& device, const PackDevice* pack)
{
    const bool bigEndian = boost::algorithm::istarts_with(packOrSvd(pack, &PackDevice::endian, device.cpu.endian), "big");
    xml.open("address-spaces");
    xml.open("address-space", Attributes().text("id", "base").hex("start", 0).hex("size", std::uint64_t{1} << 32)
                                  .text("endianness", bigEndian ? "big" : "little"));
    if (pack)
        for (const auto& memory : pack->memories)
            xml.leaf("memory-segment", Attributes().text("name", memory.name).hex("start", memory.start).hex("size", memory.size)
                                           .text("type", memory.isFlash() ? "flash" : "ram").text("rw", memory.isFlash() ? "R" : "RW")
                                           .text("exec", memory.access.find('x') != std::string::npos ? "1" : "0")
                                           .text("wordsize", "4"));
    xml.close("address-space");
    xml.close("address-spaces");
}

void writePeripherals(Xml& xml, const std::vector<Layout>& layouts)
{
    xml.open("peripherals");
    for (const auto& layout : layouts) {
        const std::string& layoutName = layout.front()->layoutName;
        xml.open("module", moduleAttributes(layoutName));
        for (const auto* peripheral : layout) {
            xml.open("instance", Attributes().text("name", peripheral->name).optional("description", peripheral->description)
                                     .optional("group", peripheral->groupName));
            xml.leaf("register-group", Attributes().text("name", peripheral->name).text("name-in-module", layoutName)
                                           .text("address-space", "base").hex("offset", peripheral->baseAddress));
            xml.close("instance");
        }
        xml.close("module");
    }
    xml.close("peripherals");
}

/// The properties with a value; the others are left out.
void writePropertyGroup(Xml& xml, const char* group, const std::vector<std::pair<const char*, std::string>>& properties)
{
    xml.open("property-group", Attributes().text("name", group));
    for (const auto& [name, value] : properties)
        if (!value.empty())
            xml.leaf("property", Attributes().text("name", name).text("value", value));
    xml.close("property-group");
}

void writePropertyGroups(Xml& xml, const SvdDevice& device, const PackDevice* pack)
{
    const SvdCpu& cpu = device.cpu;
    xml.open("property-groups");
    writePropertyGroup(xml, "CPU", {{"name", cpu.name}, {"revision", cpu.revision}, {"endian", cpu.endian},
                                    {"mpuPresent", cpu.mpuPresent ? "true" : "false"},
                                    {"fpuPresent", cpu.fpuPresent ? "true" : "false"},
                                    {"nvicPrioBits", std::to_string(cpu.nvicPrioBits)}});
    // What only a pack says is left out without one, as any empty property is.
    writePropertyGroup(xml, "DEVICE", {{"vendor", packOrSvd(pack, &PackDevice::vendor, device.vendor)},
                                       {"version", device.version}, {"description", device.description},
                                       {"family", packOrSvd(pack, &PackDevice::family, "")},
                                       {"subFamily", packOrSvd(pack, &PackDevice::subFamily, "")},
                                       {"core", packOrSvd(pack, &PackDevice::core, "")},
                                       {"fpu", packOrSvd(pack, &PackDevice::fpu, "")},
                                       {"mpu", packOrSvd(pack, &PackDevice::mpu, "")},
                                       {"clock", packOrSvd(pack, &PackDevice::clock, "")}});
    xml.close("property-groups");
}

} // namespace

std::string DescriptionWriter::write(const SvdDevice& device, const PackDevice* pack, const std::string& source)
{
    std::ostringstream text;
    // A comment cannot hold "--".
    Xml xml(text, " " + boost::algorithm::replace_all_copy(device.name + ", generated from " + source, "--", "- -") + " ");
    xml.open("hil-device-file");
    // First, where someone opening the file sees them; the Device service passes over them.
    writeWarnings(xml, device.warnings);
    const auto layouts = layoutsOf(device);
    xml.open("modules");
    for (const auto& layout : layouts)
        writeModule(xml, *layout.front());
    xml.close("modules");
    xml.open("devices");
    xml.open("device", Attributes().text("architecture", architectureOf(packOrSvd(pack, &PackDevice::core, device.cpu.name)))
                           .text("series", packOrSvd(pack, &PackDevice::family, device.name)));
    writeAddressSpaces(xml, device, pack);
    writePeripherals(xml, layouts);
    writePropertyGroups(xml, device, pack);
    xml.close("device");
    xml.close("devices");
    xml.close("hil-device-file");
    xml.finish();
    return text.str();
}

} // namespace hil::packs
