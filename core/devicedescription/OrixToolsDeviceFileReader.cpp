// SPDX-License-Identifier: Apache-2.0
#include "core/devicedescription/OrixToolsDeviceFileReader.h"

#include <filesystem>
#include <fstream>
#include <unordered_map>

#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/SAX/XMLReader.h>

#include "core/devicedescription/DescriptionNumbers.h"
#include "core/devicedescription/DeviceModelImpl.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/CoreException.h"

namespace hil {

namespace {

using Poco::XML::Element;
using Poco::XML::Node;
using namespace description;

/// Accepts a document type declaration without an internal subset, which could declare entities
/// that expand without bound. An external identifier ("SYSTEM" or "PUBLIC" and their literals) is
/// read past: the parser never fetches what it names. Returns the position past the closing '>'.
std::size_t checkDocumentType(const std::string& text, std::size_t at)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    const auto skipSpace = [&] {
        while (at < text.size() && isSpace(text[at]))
            ++at;
    };
    const auto skipWord = [&] {
        while (at < text.size() && !isSpace(text[at]) && text[at] != '[' && text[at] != '>')
            ++at;
    };
    at += 9; // "<!DOCTYPE"
    skipSpace();
    skipWord(); // the root's name
    skipSpace();
    const std::size_t keyword = at;
    skipWord();
    const std::string_view id(text.data() + keyword, at - keyword);
    if (id == "SYSTEM" || id == "PUBLIC") {
        // The system literal, after the public one.
        for (int literal = id == "PUBLIC" ? 2 : 1; literal > 0; --literal) {
            skipSpace();
            const char quote = at < text.size() ? text[at] : 0;
            const std::size_t close = quote == '"' || quote == '\'' ? text.find(quote, at + 1) : std::string::npos;
            if (close == std::string::npos)
                throw std::runtime_error("a DOCTYPE whose external identifier is not a quoted literal");
            at = close + 1;
        }
    } else if (!id.empty()) {
        throw std::runtime_error("a DOCTYPE with " + std::string(id) + " after the root's name is not accepted");
    }
    skipSpace();
    if (at < text.size() && text[at] == '[')
        throw std::runtime_error("a DOCTYPE with an internal subset (entity declarations) is not accepted");
    if (at >= text.size() || text[at] != '>')
        throw std::runtime_error("a DOCTYPE that does not end");
    return at + 1;
}

/// Refuses what could make the parse or the tree unbounded; see the class comment.
void checkDocumentShape(const std::string& text)
{
    if (text.size() > OrixToolsDeviceFileReader::kMaxDocumentBytes)
        throw std::runtime_error("the document is larger than " +
                                 std::to_string(OrixToolsDeviceFileReader::kMaxDocumentBytes >> 20) + " MiB");
    std::size_t depth = 0;
    std::size_t elements = 0;
    for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at)) {
        const auto skipPast = [&](const char* end) {
            const auto found = text.find(end, at);
            at = found == std::string::npos ? text.size() : found + std::char_traits<char>::length(end);
        };
        if (text.compare(at, 4, "<!--") == 0) {
            skipPast("-->");
        } else if (text.compare(at, 9, "<![CDATA[") == 0) {
            skipPast("]]>");
        } else if (text.compare(at, 2, "<?") == 0) {
            skipPast("?>");
        } else if (text.compare(at, 9, "<!DOCTYPE") == 0) {
            at = checkDocumentType(text, at);
        } else if (text.compare(at, 2, "<!") == 0) {
            throw std::runtime_error("declarations other than a plain DOCTYPE are not accepted");
        } else if (text.compare(at, 2, "</") == 0) {
            depth -= depth > 0 ? 1 : 0;
            skipPast(">");
        } else {
            // A start tag: find its end outside quoted attribute values, which may hold '>' or '/'.
            char quote = 0;
            std::size_t end = at + 1;
            for (; end < text.size(); ++end) {
                const char c = text[end];
                if (quote)
                    quote = c == quote ? 0 : quote;
                else if (c == '"' || c == '\'')
                    quote = c;
                else if (c == '>')
                    break;
            }
            if (++elements > OrixToolsDeviceFileReader::kMaxElements)
                throw std::runtime_error("the document has more than " +
                                         std::to_string(OrixToolsDeviceFileReader::kMaxElements) + " elements");
            if (end < text.size() && text[end - 1] != '/' &&
                ++depth > OrixToolsDeviceFileReader::kMaxDepth)
                throw std::runtime_error("elements are nested more than " +
                                         std::to_string(OrixToolsDeviceFileReader::kMaxDepth) + " deep");
            at = end;
        }
    }
}

/// Calls `visit` for every descendant element of `parent`, in document order; none for a null
/// parent. Walks the tree without recursion and without the DOM's node lists, whose indexed
/// access restarts the search for every item.
template <class Visit>
void forEachDescendant(const Element* parent, const Visit& visit)
{
    if (!parent)
        return;
    Node* node = parent->firstChild();
    while (node) {
        if (node->nodeType() == Node::ELEMENT_NODE)
            visit(static_cast<Element*>(node));
        if (node->firstChild()) {
            node = node->firstChild();
            continue;
        }
        while (node && node != parent && !node->nextSibling())
            node = node->parentNode();
        node = node && node != parent ? node->nextSibling() : nullptr;
    }
}

/// Every descendant element of `parent` named `tag`, in document order.
std::vector<Element*> allElements(const Element* parent, const std::string& tag)
{
    std::vector<Element*> found;
    forEachDescendant(parent, [&](Element* element) {
        if (element->nodeName() == tag)
            found.push_back(element);
    });
    return found;
}

/// The descendants of `parent` named `first` and those named `second`, in one walk.
std::pair<std::vector<Element*>, std::vector<Element*>> allElements(const Element* parent, const std::string& first,
                                                                    const std::string& second)
{
    std::pair<std::vector<Element*>, std::vector<Element*>> found;
    forEachDescendant(parent, [&](Element* element) {
        const auto& name = element->nodeName();
        if (name == first)
            found.first.push_back(element);
        else if (name == second)
            found.second.push_back(element);
    });
    return found;
}

const std::string& attribute(const Element* element, const std::string& name) { return element->getAttribute(name); }

std::shared_ptr<_Property> readProperty(const Element* element)
{
    auto property = std::make_shared<_Property>();
    property->name = attribute(element, "name");
    property->value = attribute(element, "value");
    return property;
}

std::shared_ptr<_Parameters> readParameters(const Element* element)
{
    auto parameters = std::make_shared<_Parameters>();
    for (const auto* param : allElements(element, "param"))
        parameters->properties.push_back(readProperty(param));
    return parameters;
}

/// The most copies the "count" attributes of one read may stand for in all: as many as the
/// elements a document may have. A count is a number, not an element, so the shape check before
/// the parse cannot see what it costs; a hostile "count" of two billion would fill the memory.
constexpr std::size_t kMaxCopies = OrixToolsDeviceFileReader::kMaxElements;
/// What is left of `kMaxCopies` in the read under way on this thread.
thread_local std::size_t copiesLeft = kMaxCopies;

/// The name and index of each copy an element with "count" stands for: one copy named as
/// written for a count of 1, else NAME0..NAME(N-1), none for a count below 1.
template <class Make>
void forEachCopy(const Element* element, const Make& make)
{
    const std::string name = attribute(element, "name");
    const std::int32_t count = element->hasAttribute("count") ? parseSigned32(attribute(element, "count")) : 1;
    if (count > 0 && static_cast<std::size_t>(count) > copiesLeft)
        throw std::runtime_error("the counts of the document stand for more than " + std::to_string(kMaxCopies) +
                                 " copies (" + name + " has " + std::to_string(count) + ")");
    if (count > 0)
        copiesLeft -= static_cast<std::size_t>(count);
    if (count == 1) {
        make(name, 0u, count);
        return;
    }
    for (std::int32_t index = 0; index < count; ++index)
        make(name + std::to_string(index), static_cast<std::uint32_t>(index), count);
}

void readRegisters(const std::vector<Element*>& elements, RegisterGroupDefinition& group)
{
    for (const auto* element : elements) {
        DIList<DIBitfield> bitfields;
        for (const auto* field : allElements(element, "bitfield")) {
            auto bitfield = std::make_shared<Bitfield>();
            bitfield->name = attribute(field, "name");
            bitfield->mask = parseNumber(attribute(field, "mask"));
            bitfield->rw = attribute(field, "rw");
            bitfield->access = attribute(field, "access");
            bitfield->valuesName = attribute(field, "values");
            bitfields.push_back(std::move(bitfield));
        }
        forEachCopy(element, [&](const std::string& name, std::uint32_t index, std::int32_t count) {
            auto reg = std::make_shared<Register>();
            reg->name = name;
            reg->offset = parseNumber(attribute(element, "offset"));
            reg->index = index;
            reg->rw = attribute(element, "rw");
            reg->access = attribute(element, "access");
            reg->ocdRw = element->hasAttribute("ocd-rw") ? attribute(element, "ocd-rw") : "RW";
            reg->size = parseLow32(attribute(element, "size"));
            reg->count = count;
            reg->initialValueSet = element->hasAttribute("initval");
            reg->initialValue = parseNumber(attribute(element, "initval"));
            reg->bitfields = bitfields;
            group.registers.push_back(std::move(reg));
        });
    }
}

/// Register-group references, of an instance or a definition: placements of definitions.
DIList<RegisterGroup> readGroupReferences(const std::vector<Element*>& elements)
{
    DIList<RegisterGroup> references;
    for (const auto* element : elements) {
        forEachCopy(element, [&](const std::string& name, std::uint32_t index, std::int32_t) {
            auto group = std::make_shared<RegisterGroup>();
            group->name = name;
            if (element->hasAttribute("address-space"))
                group->addressSpaceName = attribute(element, "address-space");
            group->offset = parseNumber(attribute(element, "offset"));
            group->index = index;
            group->definitionName = attribute(element, "name-in-module");
            references.push_back(std::move(group));
        });
    }
    return references;
}

/// Refuses register-group definitions that nest themselves, directly or through others: such a
/// group has no end, and its objects would hold each other forever. The links are cut before
/// the read fails. A depth-first walk with its own stack: a chain of a hundred thousand
/// definitions must not overflow the thread's.
void checkNestingEnds(const std::vector<std::shared_ptr<RegisterGroupDefinition>>& definitions)
{
    enum class Mark { Unseen, OnPath, Done };
    struct Step {
        const RegisterGroupDefinition* group;
        std::size_t nextReference;
    };
    std::unordered_map<const RegisterGroupDefinition*, Mark> marks;
    std::vector<Step> path;
    std::string looping;
    for (const auto& start : definitions) {
        if (!looping.empty())
            break;
        if (marks[start.get()] != Mark::Unseen)
            continue;
        marks[start.get()] = Mark::OnPath;
        path.push_back({start.get(), 0});
        while (!path.empty() && looping.empty()) {
            Step& step = path.back();
            if (step.nextReference == step.group->nested.size()) {
                marks[step.group] = Mark::Done;
                path.pop_back();
                continue;
            }
            const auto& reference = step.group->nested[step.nextReference++];
            const auto* definition = dynamic_cast<const RegisterGroupDefinition*>(reference->definition.get());
            if (!definition)
                continue;
            Mark& mark = marks[definition];
            if (mark == Mark::OnPath) {
                looping = definition->name;
            } else if (mark == Mark::Unseen) {
                mark = Mark::OnPath;
                path.push_back({definition, 0});
            }
        }
    }
    if (looping.empty())
        return;
    for (const auto& definition : definitions)
        for (const auto& reference : definition->nested)
            reference->definition.reset();
    throw std::runtime_error("register group " + looping + " contains itself");
}

std::shared_ptr<ModuleDefinition> readModuleDefinition(const Element* element)
{
    auto module = std::make_shared<ModuleDefinition>();
    module->name = attribute(element, "name");
    module->id = attribute(element, "id");
    module->version = attribute(element, "version");
    const auto [valueGroupElements, groupElements] = allElements(element, "value-group", "register-group");
    for (const auto* groupElement : valueGroupElements) {
        auto group = std::make_shared<ValueGroup>();
        group->name = attribute(groupElement, "name");
        for (const auto* valueElement : allElements(groupElement, "value")) {
            auto value = std::make_shared<_Value>();
            value->name = attribute(valueElement, "name");
            value->value = parseNumber(attribute(valueElement, "value"));
            group->values.push_back(std::move(value));
        }
        module->valueGroups.push_back(std::move(group));
    }
    std::vector<std::shared_ptr<RegisterGroupDefinition>> definitions;
    for (const auto* groupElement : groupElements) {
        auto group = std::make_shared<RegisterGroupDefinition>();
        group->name = attribute(groupElement, "name");
        group->size = parseUnsigned32(attribute(groupElement, "size"));
        const auto [registerElements, nestedElements] = allElements(groupElement, "register", "register-group");
        readRegisters(registerElements, *group);
        group->nested = readGroupReferences(nestedElements);
        definitions.push_back(group);
        module->registerGroups.push_back(std::move(group));
    }
    module->indexNames();
    for (const auto& definition : definitions)
        definition->linkDefinitions(*module);
    checkNestingEnds(definitions);
    return module;
}

std::shared_ptr<AddressSpace> readAddressSpace(const Element* element)
{
    auto space = std::make_shared<AddressSpace>();
    space->id = attribute(element, "id");
    space->start = parseNumber(attribute(element, "start"));
    space->size = parseNumber(attribute(element, "size"));
    space->endianness = attribute(element, "endianness");
    for (const auto* segmentElement : allElements(element, "memory-segment")) {
        auto segment = std::make_shared<XmlMemorySegment>();
        segment->name = attribute(segmentElement, "name");
        segment->start = parseNumber(attribute(segmentElement, "start"));
        segment->size = parseNumber(attribute(segmentElement, "size"));
        segment->type = attribute(segmentElement, "type");
        const std::string& rw = attribute(segmentElement, "rw");
        segment->readable = rw.find('R') != std::string::npos;
        segment->writable = rw.find('W') != std::string::npos;
        segment->executable = parseFlag(attribute(segmentElement, "exec"));
        segment->wordSize = parseSigned32(attribute(segmentElement, "wordsize"));
        segment->pageSize = parseSigned32(attribute(segmentElement, "pagesize"));
        segment->secondPageSize = segment->pageSize; // kept for compatibility (docs/protocol.md)
        segment->mirrorMask = parseNumber(attribute(segmentElement, "mirror-mask"));
        for (const auto* accessorElement : allElements(segmentElement, "accessor")) {
            auto accessor = std::make_shared<MemoryAccessor>();
            accessor->start = parseNumber(attribute(accessorElement, "start"));
            accessor->size = parseNumber(attribute(accessorElement, "size"));
            std::string blockStart = attribute(accessorElement, "ocd-block-start");
            if (const auto star = blockStart.find('*'); star != std::string::npos) {
                blockStart.erase(star, 1);
                accessor->ocdBlockMarker = true;
            }
            accessor->ocdBlockStart = parseNumber(blockStart);
            segment->accessors.push_back(std::move(accessor));
        }
        // An accessor without start begins at the segment; one without size reaches up to the
        // next accessor, the last one up to the segment's end.
        auto& accessors = segment->accessors;
        for (std::size_t i = 0; i < accessors.size(); ++i) {
            if (accessors[i]->getStart() == 0)
                accessors[i]->setStart(segment->start);
            if (accessors[i]->getSize() == 0) {
                const std::uint64_t end = i + 1 < accessors.size() ? accessors[i + 1]->getStart() : segment->start + segment->size;
                accessors[i]->setSize(end - accessors[i]->getStart());
            }
        }
        space->memorySegments.push_back(std::move(segment));
    }
    return space;
}

void readPeripherals(const Element* peripherals, DIDeviceImpl& device)
{
    for (const auto* moduleElement : allElements(peripherals, "module")) {
        const std::string& definitionName = attribute(moduleElement, "name");
        for (const auto* instanceElement : allElements(moduleElement, "instance")) {
            auto instance = std::make_shared<_Module>();
            instance->name = attribute(instanceElement, "name");
            instance->id = attribute(moduleElement, "id");
            instance->version = attribute(moduleElement, "version");
            for (const auto* parameters : allElements(instanceElement, "parameters"))
                instance->propertyGroups.push_back(readParameters(parameters));
            instance->registerGroups = readGroupReferences(allElements(instanceElement, "register-group"));
            instance->moduleDefinition = device.getModuleDefinition(definitionName);
            if (!instance->moduleDefinition)
                CoreException::createAndThrow("xml", ErrorCode::ModelMisuse, "Cannot find module def %s in %s module",
                                              definitionName.c_str(), instance->name.c_str());
            for (const auto& group : instance->registerGroups)
                group->linkToModuleDefinition(*instance->moduleDefinition);
            device.modules.push_back(std::move(instance));
        }
    }
}

/// Reads one document into `device`, adding to what earlier documents put there.
void readDocument(const std::string& text, const std::string& deviceName, DIDeviceImpl& device)
{
    checkDocumentShape(text);
    Poco::XML::DOMParser parser;
    // Description files use no namespaces, and the text between elements means nothing to us:
    // leaving both out makes a smaller tree, built and walked faster.
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, false);
    parser.setFeature(Poco::XML::DOMParser::FEATURE_FILTER_WHITESPACE, true);
    parser.setFeature(Poco::XML::XMLReader::FEATURE_EXTERNAL_GENERAL_ENTITIES, false);
    parser.setFeature(Poco::XML::XMLReader::FEATURE_EXTERNAL_PARAMETER_ENTITIES, false);
    Poco::AutoPtr<Poco::XML::Document> document = parser.parseMemory(text.data(), text.size());
    const Element* root = document->documentElement();
    if (!root)
        throw std::runtime_error("the document has no root element");

    for (const auto* moduleElement : allElements(root->getChildElement("modules"), "module"))
        device.moduleDefinitions.push_back(readModuleDefinition(moduleElement));
    device.indexModuleDefinitions();

    const Element* devices = root->getChildElement("devices");
    const Element* deviceElement = devices ? devices->getChildElement("device") : nullptr;
    if (!deviceElement)
        throw std::runtime_error("the document has no \"devices\" element with a \"device\" in it");
    device.name = deviceName;
    if (deviceElement->hasAttribute("architecture"))
        device.architecture = attribute(deviceElement, "architecture");
    if (deviceElement->hasAttribute("series"))
        device.series = attribute(deviceElement, "series");

    for (const auto* spaceElement : allElements(deviceElement->getChildElement("address-spaces"), "address-space"))
        device.addressSpaces.push_back(readAddressSpace(spaceElement));
    if (const auto* peripherals = deviceElement->getChildElement("peripherals"))
        readPeripherals(peripherals, device);
    if (const auto* parameters = deviceElement->getChildElement("parameters"))
        device.parameters = readParameters(parameters);

    for (const auto* element : allElements(deviceElement->getChildElement("interfaces"), "interface")) {
        auto interface = std::make_shared<_Interface>();
        interface->name = attribute(element, "name");
        interface->type = attribute(element, "type");
        device.interfaces.push_back(std::move(interface));
    }
    for (const auto* element : allElements(deviceElement->getChildElement("tools"), "tool")) {
        auto tool = std::make_shared<Tool>();
        tool->name = attribute(element, "name");
        device.tools.push_back(std::move(tool));
    }
    for (const auto* element : allElements(deviceElement->getChildElement("property-groups"), "property-group")) {
        auto group = std::make_shared<PropertyGroup>();
        group->name = attribute(element, "name");
        for (const auto* propertyElement : allElements(element, "property"))
            group->properties.push_back(readProperty(propertyElement));
        device.propertyGroups.push_back(std::move(group));
    }
    for (const auto* element : allElements(root->getChildElement("variants"), "variant")) {
        auto variant = std::make_shared<DIVariantImpl>();
        variant->orderCode = attribute(element, "ordercode");
        variant->vccMin = parseDecimal(attribute(element, "vccmin"));
        variant->vccMax = parseDecimal(attribute(element, "vccmax"));
        device.variants.push_back(std::move(variant));
    }
}

/// Runs `read`, turning whatever it throws into the read error (component "HIL", code 1):
/// `prefix` followed by the cause.
template <class Read>
void reportingReadErrors(const char* prefix, const Read& read)
{
    copiesLeft = kMaxCopies;
    try {
        read();
    } catch (const Poco::Exception& failure) {
        CoreException::createAndThrow(L_HIL, ErrorCode::ReadFailure, "%s%s", prefix, failure.displayText().c_str());
    } catch (const std::exception& failure) {
        CoreException::createAndThrow(L_HIL, ErrorCode::ReadFailure, "%s%s", prefix, failure.what());
    } catch (...) {
        CoreException::createAndThrow(L_HIL, ErrorCode::ReadFailure, "Failed to parse XML device file string. Cause unknown.");
    }
}

std::string readWholeFile(const std::string& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error)
        throw std::runtime_error("cannot read " + path + ": " + error.message());
    if (size > OrixToolsDeviceFileReader::kMaxDocumentBytes)
        throw std::runtime_error(path + " is larger than " +
                                 std::to_string(OrixToolsDeviceFileReader::kMaxDocumentBytes >> 20) + " MiB");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    std::string text(size, '\0');
    in.read(text.data(), static_cast<std::streamsize>(size));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

/// Reads the files into `device`, turning every failure into the read error.
void readFilesInto(const std::vector<std::string>& paths, const std::string& deviceName, DIDeviceImpl& device)
{
    for (const auto& path : paths) {
        std::error_code error;
        if (!std::filesystem::exists(path, error) || error)
            CoreException::createAndThrow(L_HIL, ErrorCode::ReadFailure, "Device could not be recognized, check spelling: %s",
                                          deviceName.c_str());
        reportingReadErrors("Failed to read device description file. ",
                            [&] { readDocument(readWholeFile(path), deviceName, device); });
    }
}

} // namespace

std::shared_ptr<DIDevice> OrixToolsDeviceFileReader::parseFile(Status&, const std::string& path, const std::string& deviceName)
{
    auto device = std::make_shared<DIDeviceImpl>();
    readFilesInto({path}, deviceName, *device);
    return device;
}

std::shared_ptr<DIDevice> OrixToolsDeviceFileReader::parseFiles(Status&, const std::vector<std::string>& paths,
                                                                const std::string& deviceName)
{
    auto device = std::make_shared<DIDeviceImpl>();
    readFilesInto(paths, deviceName, *device);
    return device;
}

std::shared_ptr<DIDevice> OrixToolsDeviceFileReader::parseText(Status&, const std::string& xml, const std::string& deviceName)
{
    auto device = std::make_shared<DIDeviceImpl>();
    reportingReadErrors("Failed to parse XML string. ", [&] { readDocument(xml, deviceName, *device); });
    return device;
}

} // namespace hil
