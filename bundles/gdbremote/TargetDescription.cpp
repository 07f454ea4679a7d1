// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbremote/TargetDescription.h"
#include "platform/common/TextNumbers.h"

#include <stdexcept>

#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/NodeList.h>
#include <Poco/Exception.h>
#include <Poco/SAX/XMLReader.h>


namespace hil::gdbremote {

namespace {

constexpr int kMaxIncludeDepth = 8;
/// Includes may fan out at each level: the annexes read in all are bounded too.
constexpr int kMaxAnnexes = 64;
constexpr int kMaxBitSize = 4096;

/// Servers send `<!DOCTYPE target SYSTEM "gdb-target.dtd">`; the DTD is never fetched, so the
/// declaration is dropped. One with an internal subset could declare entities: refused.
std::string withoutDoctype(const std::string& xml, const std::string& annex)
{
    const auto start = xml.find("<!DOCTYPE");
    if (start == std::string::npos)
        return xml;
    const auto end = xml.find('>', start);
    if (end == std::string::npos || xml.find('[', start) < end)
        throw std::runtime_error(annex + ": a DOCTYPE with declarations is not accepted");
    return xml.substr(0, start) + xml.substr(end + 1);
}

Poco::AutoPtr<Poco::XML::Document> parse(const std::string& xml, const std::string& annex)
{
    Poco::XML::DOMParser parser;
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, false);
    parser.setFeature(Poco::XML::XMLReader::FEATURE_EXTERNAL_GENERAL_ENTITIES, false);
    parser.setFeature(Poco::XML::XMLReader::FEATURE_EXTERNAL_PARAMETER_ENTITIES, false);
    try {
        return parser.parseString(withoutDoctype(xml, annex));
    } catch (const Poco::Exception& error) {
        throw std::runtime_error(annex + " is not XML: " + error.displayText());
    }
}

int parseInt(const std::string& text, const std::string& what)
{
    try {
        std::size_t used = 0;
        const long value = std::stol(text, &used, 0);
        if (used == text.size() && value >= 0 && value <= 0x7FFFFFFF)
            return static_cast<int>(value);
    } catch (const std::exception&) {
    }
    throw std::runtime_error(what + " \"" + text + "\" is not a number");
}

std::uint64_t parseAddress(const std::string& text, const std::string& what)
{
    if (const auto value = parseUnsigned(text))
        return *value;
    throw std::runtime_error("memory map: " + what + " \"" + text + "\" is not a number");
}

class DescriptionWalker {
public:
    DescriptionWalker(const AnnexReader& read, std::size_t maxRegisters) : read_(read), maxRegisters_(maxRegisters) {}

    void walkAnnex(const std::string& annex, int depth)
    {
        if (depth > kMaxIncludeDepth)
            throw std::runtime_error(annex + ": includes nested deeper than " + std::to_string(kMaxIncludeDepth));
        if (++annexesRead_ > kMaxAnnexes)
            throw std::runtime_error(annex + ": more than " + std::to_string(kMaxAnnexes) + " annexes included");
        const auto document = parse(read_(annex), annex);
        walk(document->documentElement(), annex, depth);
    }

    std::vector<RemoteRegister> registers;

private:
    void walk(Poco::XML::Element* element, const std::string& annex, int depth)
    {
        for (auto* node = element ? element->firstChild() : nullptr; node; node = node->nextSibling()) {
            auto* child = dynamic_cast<Poco::XML::Element*>(node);
            if (!child)
                continue;
            const std::string& tag = child->nodeName();
            if (tag == "reg")
                add(*child, annex);
            else if (tag == "xi:include" || tag == "include")
                walkAnnex(child->getAttribute("href"), depth + 1);
            else if (tag == "feature")
                walk(child, annex, depth);
        }
    }

    void add(const Poco::XML::Element& reg, const std::string& annex)
    {
        if (registers.size() >= maxRegisters_)
            throw std::runtime_error(annex + ": more than " + std::to_string(maxRegisters_) + " registers");
        RemoteRegister described;
        described.name = reg.getAttribute("name");
        if (described.name.empty())
            throw std::runtime_error(annex + ": a register without a name");
        described.bitSize = parseInt(reg.getAttribute("bitsize"), annex + ": bitsize of " + described.name);
        if (described.bitSize < 1 || described.bitSize > kMaxBitSize)
            throw std::runtime_error(annex + ": register " + described.name + " has " + std::to_string(described.bitSize) +
                                     " bits");
        const std::string number = reg.getAttribute("regnum");
        described.number = number.empty() ? nextNumber_ : parseInt(number, annex + ": regnum of " + described.name);
        nextNumber_ = described.number + 1;
        described.type = reg.getAttribute("type");
        described.group = reg.getAttribute("group");
        registers.push_back(std::move(described));
    }

    const AnnexReader& read_;
    const std::size_t maxRegisters_;
    int nextNumber_ = 0;
    int annexesRead_ = 0;
};

} // namespace

std::vector<RemoteRegister> parseTargetDescription(const AnnexReader& read, std::size_t maxRegisters)
{
    DescriptionWalker walker(read, maxRegisters);
    walker.walkAnnex("target.xml", 0);
    return std::move(walker.registers);
}

std::vector<MemoryArea> parseMemoryMap(const std::string& xml)
{
    const auto document = parse(xml, "memory map");
    std::vector<MemoryArea> areas;
    const Poco::AutoPtr<Poco::XML::NodeList> memories = document->getElementsByTagName("memory");
    for (unsigned long i = 0; i < memories->length(); ++i) {
        const auto* memory = static_cast<Poco::XML::Element*>(memories->item(i));
        MemoryArea area;
        area.type = memory->getAttribute("type");
        area.start = parseAddress(memory->getAttribute("start"), "start");
        area.length = parseAddress(memory->getAttribute("length"), "length");
        for (auto* node = memory->firstChild(); node; node = node->nextSibling()) {
            const auto* property = dynamic_cast<Poco::XML::Element*>(node);
            if (property && property->nodeName() == "property" && property->getAttribute("name") == "blocksize")
                area.blockSize = parseAddress(property->innerText(), "blocksize");
        }
        areas.push_back(area);
    }
    return areas;
}

} // namespace hil::gdbremote
