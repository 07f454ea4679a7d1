// SPDX-License-Identifier: Apache-2.0
#include "packmanager/SimplePackService.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMWriter.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/XML/XMLWriter.h>
#include <boost/algorithm/string.hpp>

#include "packmanager/DescriptionWriter.h"
#include "packmanager/PackXml.h"
#include "platform/common/WholeFile.h"
#include "platform/xml/UntrustedXml.h"

namespace hil::packs {

namespace fs = std::filesystem;
using Poco::AutoPtr;
using Poco::XML::Document;
using Poco::XML::Element;
using Poco::XML::Node;

namespace {

std::string trimmed(const std::string& text) { return boost::algorithm::trim_copy(text); }

/// The element children of `parent`, in order; none for a null parent.
std::vector<Element*> childElements(const Element* parent)
{
    std::vector<Element*> children;
    for (Node* node = parent ? parent->firstChild() : nullptr; node; node = node->nextSibling())
        if (node->nodeType() == Node::ELEMENT_NODE)
            children.push_back(static_cast<Element*>(node));
    return children;
}

/// The device element's containers whose entries add up over the files, in the order the
/// assembled device holds them.
const std::vector<std::string> kDeviceLists{"address-spaces", "peripherals", "interfaces", "tools", "property-groups"};

/// A part of a device's description is read whole: as large as a whole description may be.
constexpr std::uintmax_t kMaxPartBytes = 32u << 20;

} // namespace

SimplePackService::SimplePackService(fs::path packDirectory, fs::path assemblyDirectory,
                                     std::shared_ptr<PackCatalog> catalog)
    : packDirectory_(std::move(packDirectory)), assemblyDirectory_(std::move(assemblyDirectory)), catalog_(std::move(catalog))
{
    std::ifstream index(packDirectory_ / kIndexFile);
    std::string line;
    while (std::getline(index, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            devices_.push_back({trimmed(line.substr(1, line.size() - 2)), {}, {}});
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos || devices_.empty())
            continue; // not an entry of a device: a pack written by hand may have stray lines
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        auto& device = devices_.back();
        if (key == "files") {
            boost::algorithm::split(device.files, value, [](char c) { return c == ','; });
            for (auto& file : device.files)
                file = trimmed(file);
            std::erase(device.files, std::string());
        } else {
            device.properties[key] = value;
        }
    }
}

std::vector<std::string> SimplePackService::getDevices() const
{
    std::vector<std::string> names;
    for (const auto& device : devices_)
        names.push_back(device.name);
    if (catalog_)
        for (const auto& device : catalog_->devices(""))
            if (!find(device.name))
                names.push_back(device.name);
    return names;
}

const SimplePackService::Device* SimplePackService::find(const std::string& deviceName) const
{
    for (const auto& device : devices_)
        if (boost::algorithm::iequals(device.name, deviceName))
            return &device;
    return nullptr;
}

std::string SimplePackService::getDeviceFile(const std::string& deviceName) const
{
    const auto* device = find(deviceName);
    if (!device && catalog_ && catalog_->find(deviceName)) {
        try {
            return catalog_->descriptionFile(deviceName);
        } catch (const std::exception&) {
            return {}; // the catalog keeps the reason among its problems
        }
    }
    if (!device || device->files.empty())
        return {};
    if (device->files.size() == 1)
        return (packDirectory_ / device->files.front()).string();
    try {
        return assemble(*device);
    } catch (const std::exception&) {
        // (Poco's exceptions are standard ones.) A part that cannot be read or written leaves
        // the device without a file; the caller then looks elsewhere, and reports the device as
        // not found when nothing else has it.
        return {};
    }
}

std::string SimplePackService::assemble(const Device& device) const
{
    AutoPtr<Document> assembled = new Document;
    AutoPtr<Element> root = assembled->createElement("hil-device-file");
    assembled->appendChild(root);
    AutoPtr<Element> modules = assembled->createElement("modules");
    AutoPtr<Element> devices = assembled->createElement("devices");
    AutoPtr<Element> deviceElement = assembled->createElement("device");
    AutoPtr<Element> variants = assembled->createElement("variants");
    std::map<std::string, AutoPtr<Element>> lists;
    for (const auto& name : kDeviceLists)
        lists[name] = assembled->createElement(name);
    AutoPtr<Node> parameters;

    const auto importChildren = [&](const Element* from, Element* into) {
        for (const auto* child : childElements(from)) {
            AutoPtr<Node> copy = assembled->importNode(const_cast<Element*>(child), true);
            into->appendChild(copy);
        }
    };
    for (const auto& file : device.files) {
        const auto path = packDirectory_ / file;
        AutoPtr<Document> part = xml::parseUntrusted(readPackFile(path, kMaxPartBytes), path.string());
        const Element* partRoot = part->documentElement();
        importChildren(partRoot->getChildElement("modules"), modules);
        importChildren(partRoot->getChildElement("variants"), variants);
        const Element* partDevices = partRoot->getChildElement("devices");
        const Element* partDevice = partDevices ? partDevices->getChildElement("device") : nullptr;
        if (!partDevice)
            continue;
        for (const char* attribute : {"architecture", "series"})
            if (partDevice->hasAttribute(attribute))
                deviceElement->setAttribute(attribute, partDevice->getAttribute(attribute));
        for (const auto& name : kDeviceLists)
            importChildren(partDevice->getChildElement(name), lists[name]);
        if (const Element* partParameters = partDevice->getChildElement("parameters"))
            parameters = assembled->importNode(const_cast<Element*>(partParameters), true);
    }
    root->appendChild(modules);
    root->appendChild(devices);
    devices->appendChild(deviceElement);
    for (const auto& name : kDeviceLists)
        deviceElement->appendChild(lists[name]);
    if (parameters)
        deviceElement->appendChild(parameters);
    root->appendChild(variants);

    std::ostringstream text;
    Poco::XML::DOMWriter writer;
    writer.setOptions(Poco::XML::XMLWriter::WRITE_XML_DECLARATION | Poco::XML::XMLWriter::PRETTY_PRINT);
    writer.writeNode(text, assembled);
    // Other processes (and threads) assemble the same device into the same folder at once.
    const fs::path target = assemblyDirectory_ / (device.name + ".tdesc");
    writeWholeFile(target, text.str());
    return target.string();
}

std::string SimplePackService::lookupDeviceProperty(const std::string& deviceName, const std::string& key) const
{
    const auto* device = find(deviceName);
    if (!device) {
        const auto fromCatalog = catalog_ ? catalog_->find(deviceName) : std::nullopt;
        return fromCatalog ? catalogDeviceProperty(*fromCatalog, key) : std::string();
    }
    const auto entry = device->properties.find(key);
    if (entry == device->properties.end())
        return key == "Source" ? (packDirectory_ / kIndexFile).string() : std::string();
    return entry->second;
}

std::string SimplePackService::lookupDevicePropertyAlt(const std::string& deviceName, const std::string& key) const
{
    return lookupDeviceProperty(deviceName, "alt." + key);
}

std::string catalogDeviceProperty(const CatalogDevice& device, const std::string& key)
{
    const auto& pack = device.pack;
    const auto sum = [&](bool flash) {
        std::uint64_t total = 0;
        for (const auto& memory : pack.memories)
            if (memory.isFlash() == flash)
                total += memory.size;
        return total == 0 ? std::string() : hexText(total);
    };
    const std::map<std::string, std::function<std::string()>> properties{
        {"Vendor", [&] { return pack.vendor; }},
        {"Family", [&] { return pack.family; }},
        {"SubFamily", [&] { return pack.subFamily; }},
        {"Core", [&] { return pack.core; }},
        {"Architecture", [&] { return pack.core.empty() ? std::string() : architectureOf(pack.core); }},
        {"Fpu", [&] { return pack.fpu; }},
        {"Mpu", [&] { return pack.mpu; }},
        {"Endian", [&] { return pack.endian; }},
        {"Clock", [&] { return pack.clock; }},
        {"Svd", [&] { return device.svd; }},
        {"Source", [&] { return device.source; }},
        {"FlashSize", [&] { return sum(true); }},
        {"RamSize", [&] { return sum(false); }}};
    const auto property = properties.find(key);
    return property == properties.end() ? std::string() : property->second();
}

} // namespace hil::packs
