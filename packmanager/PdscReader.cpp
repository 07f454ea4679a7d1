// SPDX-License-Identifier: Apache-2.0
#include "packmanager/PdscReader.h"

#include <algorithm>

#include <Poco/DOM/Element.h>
#include <boost/algorithm/string.hpp>

#include "packmanager/PackXml.h"
#include "packmanager/SvdReader.h"

namespace hil::packs {

using Poco::XML::Element;
using Poco::XML::Node;

namespace {

template <class Visit>
void forEachChild(const Element* parent, const Visit& visit)
{
    forEachChildElement(parent, nullptr, visit);
}

std::string text(const Element* parent, const char* name)
{
    const Element* child = parent ? parent->getChildElement(name) : nullptr;
    return child ? boost::algorithm::trim_copy(child->innerText()) : std::string();
}

class TreeReader {
public:
    TreeReader(std::string source, std::vector<PackDevice>& devices) : source_(std::move(source)), devices_(devices) {}

    /// Reads `element` (a family, subFamily, device or variant) on top of what `outer` gives.
    void read(const Element* element, PackDevice inherited)
    {
        const std::string& kind = element->nodeName();
        const auto set = [&](const char* attribute, std::string& into) {
            if (element->hasAttribute(attribute))
                into = element->getAttribute(attribute);
        };
        set("Dvendor", inherited.vendor);
        set("Dfamily", inherited.family);
        set("DsubFamily", inherited.subFamily);
        if (kind == "device")
            set("Dname", inherited.name);
        if (kind == "variant")
            set("Dvariant", inherited.name);
        bool hasVariants = false;
        forEachChild(element, [&](const Element* child) {
            const std::string& name = child->nodeName();
            if (name == "processor") {
                const auto processor = [&](const char* attribute, std::string& into) {
                    if (child->hasAttribute(attribute))
                        into = child->getAttribute(attribute);
                };
                processor("Dcore", inherited.core);
                processor("Dfpu", inherited.fpu);
                processor("Dmpu", inherited.mpu);
                processor("Dendian", inherited.endian);
                processor("Dclock", inherited.clock);
            } else if (name == "memory") {
                addMemory(child, inherited.memories);
            } else if (name == "debug" && child->hasAttribute("svd")) {
                inherited.svd = child->getAttribute("svd");
            } else if (name == "description") {
                inherited.description = boost::algorithm::trim_copy(child->innerText());
            } else if (name == "variant") {
                hasVariants = true;
            }
        });
        if (kind == "device" && inherited.name.empty())
            throw PackSourceError(source_ + ": a <device> has no Dname");
        if (kind == "variant" && inherited.name.empty())
            throw PackSourceError(source_ + ": a <variant> of " + element->parentNode()->nodeName() + " has no Dvariant");
        const bool leaf = (kind == "device" && !hasVariants) || kind == "variant";
        if (leaf) {
            // "ARM:82": the vendor's name, then its number in the packs' vendor list.
            inherited.vendor = inherited.vendor.substr(0, inherited.vendor.find(':'));
            devices_.push_back(inherited);
            return;
        }
        forEachChild(element, [&](const Element* child) {
            const std::string& name = child->nodeName();
            if (name == "subFamily" || name == "device" || name == "variant")
                read(child, inherited);
        });
    }

private:
    void addMemory(const Element* element, std::vector<PackMemory>& memories) const
    {
        PackMemory memory;
        memory.name = element->hasAttribute("name") ? element->getAttribute("name") : element->getAttribute("id");
        if (memory.name.empty())
            throw PackSourceError(source_ + ": a <memory> has neither name nor id");
        memory.access = element->getAttribute("access");
        if (memory.access.empty()) {
            // Old packs say what a region is by its id: IROM is flash, IRAM is RAM.
            memory.access = boost::algorithm::istarts_with(memory.name, "IROM") ? "rx" : "rwx";
        }
        try {
            memory.start = parseSvdNumber(element->getAttribute("start"));
            memory.size = parseSvdNumber(element->getAttribute("size"));
        } catch (const std::invalid_argument& error) {
            throw PackSourceError(source_ + ": memory " + memory.name + ": " + error.what());
        }
        memory.isDefault = element->getAttribute("default") == "1" || element->getAttribute("default") == "true";
        memory.startup = element->getAttribute("startup") == "1" || element->getAttribute("startup") == "true";
        const auto same = std::find_if(memories.begin(), memories.end(), [&](const PackMemory& m) { return m.name == memory.name; });
        if (same == memories.end())
            memories.push_back(std::move(memory));
        else
            *same = std::move(memory);
    }

    std::string source_;
    std::vector<PackDevice>& devices_;
};

} // namespace

PackDescription PdscReader::read(const std::string& input, const std::string& sourceName)
{
    const auto document = parsePackXml(input, sourceName, "package");
    const Element* root = document->documentElement();
    PackDescription pack;
    pack.vendor = text(root, "vendor");
    pack.name = text(root, "name");
    if (const Element* releases = root->getChildElement("releases"))
        if (const Element* newest = releases->getChildElement("release"))
            pack.version = newest->getAttribute("version");
    PackDevice top;
    top.vendor = pack.vendor;
    TreeReader reader(sourceName, pack.devices);
    forEachChild(root->getChildElement("devices"), [&](const Element* family) {
        if (family->nodeName() == "family")
            reader.read(family, top);
    });
    return pack;
}

} // namespace hil::packs
