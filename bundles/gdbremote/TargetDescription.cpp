// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbremote/TargetDescription.h"

#include <stdexcept>

#include <Poco/DOM/Element.h>
#include <Poco/DOM/NodeList.h>

#include "platform/common/Errors.h"
#include "platform/common/TextNumbers.h"
#include "platform/xml/UntrustedXml.h"

namespace hil::gdbremote {

namespace {

constexpr int kMaxIncludeDepth = 8;
/// Includes may fan out at each level: the annexes read in all are bounded too.
constexpr int kMaxAnnexes = 64;
constexpr int kMaxBitSize = 4096;

int parseInt(const std::string& text, const std::string& what)
{
    if (const auto value = parseUnsigned(text); value && *value <= 0x7FFFFFFF)
        return static_cast<int>(*value);
    throw TargetError(what + " \"" + text + "\" is not a number");
}

std::uint64_t parseAddress(const std::string& text, const std::string& what)
{
    if (const auto value = parseUnsigned(text))
        return *value;
    throw TargetError("memory map: " + what + " \"" + text + "\" is not a number");
}

class DescriptionWalker {
public:
    DescriptionWalker(const AnnexReader& read, std::size_t maxRegisters) : read_(read), maxRegisters_(maxRegisters) {}

    void walkAnnex(const std::string& annex, int depth)
    {
        if (depth > kMaxIncludeDepth)
            throw TargetError(annex + ": includes nested deeper than " + std::to_string(kMaxIncludeDepth));
        if (++annexesRead_ > kMaxAnnexes)
            throw TargetError(annex + ": more than " + std::to_string(kMaxAnnexes) + " annexes included");
        // Servers send `<!DOCTYPE target SYSTEM "gdb-target.dtd">`: read past, never fetched.
        const auto document = xml::parseUntrusted(read_(annex), annex);
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
            throw TargetError(annex + ": more than " + std::to_string(maxRegisters_) + " registers");
        RemoteRegister described;
        described.name = reg.getAttribute("name");
        if (described.name.empty())
            throw TargetError(annex + ": a register without a name");
        described.bitSize = parseInt(reg.getAttribute("bitsize"), annex + ": bitsize of " + described.name);
        if (described.bitSize < 1 || described.bitSize > kMaxBitSize)
            throw TargetError(annex + ": register " + described.name + " has " + std::to_string(described.bitSize) +
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
    const auto document = xml::parseUntrusted(xml, "memory map");
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
