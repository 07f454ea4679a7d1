#include "packmanager/SvdReader.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include <Poco/DOM/Element.h>
#include <boost/algorithm/string.hpp>

#include "packmanager/PackXml.h"

namespace hil::packs {

namespace fs = std::filesystem;
using Poco::XML::Element;
using Poco::XML::Node;

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

std::uint64_t SvdField::mask() const
{
    const std::uint64_t ones = width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
    return ones << lsb;
}

std::uint64_t SvdRegisterBlock::extent() const
{
    std::uint64_t end = 0;
    for (const auto& reg : registers)
        end = std::max(end, reg.offset + (reg.sizeBits + 7) / 8);
    for (const auto& cluster : clusters)
        end = std::max(end, cluster.offset + cluster.block.extent());
    return end;
}

namespace {

/// Reads one number in the given base, all of `digits`; throws on anything else.
std::uint64_t parseDigits(const std::string& digits, int base, const std::string& whole)
{
    if (digits.empty())
        throw std::invalid_argument("\"" + whole + "\" is not a number");
    std::size_t used = 0;
    std::uint64_t value = 0;
    try {
        value = std::stoull(digits, &used, base);
    } catch (const std::exception&) {
        throw std::invalid_argument("\"" + whole + "\" is not a number");
    }
    if (used != digits.size() || digits.front() == '-' || digits.front() == '+')
        throw std::invalid_argument("\"" + whole + "\" is not a number");
    return value;
}

bool startsWithIgnoringCase(const std::string& text, const char* prefix)
{
    return boost::algorithm::istarts_with(text, prefix);
}

} // namespace

std::uint64_t parseSvdNumber(const std::string& input)
{
    std::string text = boost::algorithm::trim_copy(input);
    if (!text.empty() && text.front() == '+')
        text.erase(0, 1);
    if (startsWithIgnoringCase(text, "0x"))
        return parseDigits(text.substr(2), 16, input);
    if (startsWithIgnoringCase(text, "0b"))
        return parseDigits(text.substr(2), 2, input);
    if (!text.empty() && text.front() == '#')
        return parseDigits(text.substr(1), 2, input);
    return parseDigits(text, 10, input);
}

namespace {

struct InheritedProperties {
    std::optional<std::uint32_t> sizeBits;
    std::optional<SvdAccess> access;
    std::optional<std::uint64_t> resetValue;
};

struct DimCopy {
    std::string name;
    std::uint64_t index;
};

const Element* firstChild(const Element* parent, const char* name)
{
    for (Node* node = parent->firstChild(); node; node = node->nextSibling())
        if (node->nodeType() == Node::ELEMENT_NODE && node->nodeName() == name)
            return static_cast<const Element*>(node);
    return nullptr;
}

template <class Visit>
void forEachChild(const Element* parent, const Visit& visit)
{
    forEachChildElement(parent, nullptr, visit);
}

/// The trimmed text of the named child, or nothing when there is no such child.
std::optional<std::string> childText(const Element* parent, const char* name)
{
    const Element* child = firstChild(parent, name);
    if (!child)
        return std::nullopt;
    return boost::algorithm::trim_copy(child->innerText());
}

/// Descriptions spread over lines in the file read as one line.
std::string oneLine(const std::string& text)
{
    std::string line;
    line.reserve(text.size());
    bool space = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            space = !line.empty();
            continue;
        }
        if (space)
            line += ' ';
        space = false;
        line += c;
    }
    return line;
}

std::string withoutDimMarks(std::string name)
{
    boost::algorithm::erase_all(name, "[%s]");
    boost::algorithm::erase_all(name, "%s");
    return name;
}

/// Resolves one `<device>` element. Templates (an element with its derivedFrom and inherited
/// properties resolved, before its "dim" copies) are kept per element, so a base used by a
/// hundred derived elements is read once.
class Resolver {
public:
    Resolver(const Element* device, std::string source) : device_(device), source_(std::move(source)) {}

    SvdDevice run()
    {
        index();
        SvdDevice result;
        result.name = childText(device_, "name").value_or("");
        if (result.name.empty())
            fail(device_, "the device has no <name>");
        result.vendor = oneLine(childText(device_, "vendor").value_or(""));
        result.version = childText(device_, "version").value_or("");
        result.description = oneLine(childText(device_, "description").value_or(""));
        if (const auto bits = childText(device_, "addressUnitBits"))
            result.addressUnitBits = static_cast<std::uint32_t>(number(device_, *bits));
        if (const auto width = childText(device_, "width"))
            result.width = static_cast<std::uint32_t>(number(device_, *width));
        if (const Element* cpu = firstChild(device_, "cpu")) {
            result.cpu.name = childText(cpu, "name").value_or("");
            result.cpu.revision = childText(cpu, "revision").value_or("");
            result.cpu.endian = childText(cpu, "endian").value_or("little");
            result.cpu.mpuPresent = flag(cpu, childText(cpu, "mpuPresent"));
            result.cpu.fpuPresent = flag(cpu, childText(cpu, "fpuPresent"));
            if (const auto bits = childText(cpu, "nvicPrioBits"))
                result.cpu.nvicPrioBits = static_cast<std::uint32_t>(number(cpu, *bits));
        }
        forEachChild(firstChild(device_, "peripherals"), [&](const Element* element) {
            if (element->nodeName() != "peripheral")
                return;
            const SvdPeripheral& peripheral = peripheralTemplate(element);
            const auto copies = dimCopies(element, peripheral.name);
            const std::uint64_t step = copies.size() > 1 ? increment(element) : 0;
            for (const auto& copy : copies) {
                SvdPeripheral placed = peripheral;
                placed.name = copy.name;
                placed.baseAddress += copy.index * step;
                result.peripherals.push_back(std::move(placed));
            }
        });
        return result;
    }

private:
    [[noreturn]] void fail(const Element* element, const std::string& text) const
    {
        for (const Node* node = element; node; node = node->parentNode()) {
            const auto path = pathOf_.find(static_cast<const Element*>(node));
            if (node->nodeType() == Node::ELEMENT_NODE && path != pathOf_.end())
                throw PackSourceError(source_ + ": " + path->second + ": " + text);
        }
        throw PackSourceError(source_ + ": " + text);
    }

    std::uint64_t number(const Element* element, const std::string& text) const
    {
        try {
            return parseSvdNumber(text);
        } catch (const std::invalid_argument& error) {
            fail(element, error.what());
        }
    }

    bool flag(const Element* element, const std::optional<std::string>& text) const
    {
        if (!text)
            return false;
        if (*text == "true" || *text == "1")
            return true;
        if (*text == "false" || *text == "0")
            return false;
        fail(element, "\"" + *text + "\" is not true or false");
    }

    SvdAccess access(const Element* element, const std::string& text) const
    {
        static const std::unordered_map<std::string, SvdAccess> kAccess{{"read-only", SvdAccess::ReadOnly},
                                                                        {"write-only", SvdAccess::WriteOnly},
                                                                        {"read-write", SvdAccess::ReadWrite},
                                                                        {"writeOnce", SvdAccess::WriteOnce},
                                                                        {"read-writeOnce", SvdAccess::ReadWriteOnce}};
        const auto found = kAccess.find(text);
        if (found == kAccess.end())
            fail(element, "\"" + text + "\" is not an access");
        return found->second;
    }

    /// Paths of everything a derivedFrom may name: peripherals by name, clusters, registers and
    /// fields by dotted path, enumerations by name and by path.
    void index()
    {
        pathOf_[device_] = "device";
        forEachChild(firstChild(device_, "peripherals"), [&](const Element* peripheral) {
            if (peripheral->nodeName() != "peripheral")
                return;
            const std::string name = childText(peripheral, "name").value_or("");
            pathOf_[peripheral] = name;
            peripherals_.emplace(name, peripheral);
            indexBlock(firstChild(peripheral, "registers"), name);
        });
    }

    void indexBlock(const Element* parent, const std::string& scope)
    {
        forEachChild(parent, [&](const Element* element) {
            const std::string& kind = element->nodeName();
            if (kind != "register" && kind != "cluster")
                return;
            const std::string path = scope + "." + childText(element, "name").value_or("");
            pathOf_[element] = path;
            paths_.emplace(path, element);
            if (kind == "cluster") {
                indexBlock(element, path);
                return;
            }
            forEachChild(firstChild(element, "fields"), [&](const Element* field) {
                if (field->nodeName() != "field")
                    return;
                const std::string fieldPath = path + "." + childText(field, "name").value_or("");
                pathOf_[field] = fieldPath;
                paths_.emplace(fieldPath, field);
                forEachChild(field, [&](const Element* values) {
                    if (values->nodeName() != "enumeratedValues")
                        return;
                    pathOf_[values] = fieldPath;
                    if (const auto name = childText(values, "name")) {
                        enumerations_.emplace(*name, values);
                        enumerations_.emplace(fieldPath + "." + *name, values);
                    }
                });
            });
        });
    }

    /// Refuses an element that is being resolved already: a derivedFrom chain that loops.
    class Visit {
    public:
        Visit(Resolver& resolver, const Element* element) : resolver_(resolver), element_(element)
        {
            if (!resolver.resolving_.insert(element).second)
                resolver.fail(element, "its derivedFrom chain comes back to it");
        }
        ~Visit() { resolver_.resolving_.erase(element_); }
        Visit(const Visit&) = delete;
        Visit& operator=(const Visit&) = delete;

    private:
        Resolver& resolver_;
        const Element* element_;
    };

    /// The properties `element` inherits from the elements around it.
    const InheritedProperties& inherited(const Element* element)
    {
        const auto known = inherited_.find(element);
        if (known != inherited_.end())
            return known->second;
        InheritedProperties properties;
        const Node* parent = element->parentNode();
        if (element != device_ && parent && parent->nodeType() == Node::ELEMENT_NODE)
            properties = inherited(static_cast<const Element*>(parent));
        const std::string& kind = element->nodeName();
        if (kind == "device" || kind == "peripheral" || kind == "cluster" || kind == "register") {
            if (const auto size = childText(element, "size"))
                properties.sizeBits = static_cast<std::uint32_t>(number(element, *size));
            if (const auto resetValue = childText(element, "resetValue"))
                properties.resetValue = number(element, *resetValue);
            if (const auto text = childText(element, "access"))
                properties.access = access(element, *text);
        }
        return inherited_.emplace(element, properties).first->second;
    }

    /// The element of `kind` a derivedFrom of `element` names: a sibling, then a path from each
    /// enclosing scope outwards, then a path from the device.
    const Element* referenced(const Element* element, const std::string& reference, const std::string& kind)
    {
        std::string scope = pathOf_[element];
        while (true) {
            const auto cut = scope.rfind('.');
            scope = cut == std::string::npos ? std::string() : scope.substr(0, cut);
            const auto found = paths_.find(scope.empty() ? reference : scope + "." + reference);
            if (found != paths_.end() && found->second->nodeName() == kind && found->second != element)
                return found->second;
            if (scope.empty())
                fail(element, "derivedFrom \"" + reference + "\" names no " + kind);
        }
    }

    std::optional<std::string> derivedFrom(const Element* element) const
    {
        if (!element->hasAttribute("derivedFrom"))
            return std::nullopt;
        return boost::algorithm::trim_copy(element->getAttribute("derivedFrom"));
    }

    void count(const Element* element, std::uint64_t made)
    {
        elements_ += made;
        if (elements_ > SvdReader::kMaxElements)
            fail(element, "the device has more than " + std::to_string(SvdReader::kMaxElements) +
                              " registers and fields");
    }

    std::uint64_t increment(const Element* element) const
    {
        const auto text = childText(element, "dimIncrement");
        if (!text)
            fail(element, "has dim but no dimIncrement");
        return number(element, *text);
    }

    std::vector<DimCopy> dimCopies(const Element* element, const std::string& name)
    {
        const auto dimText = childText(element, "dim");
        if (!dimText)
            return {{name, 0}};
        const std::uint64_t dim = number(element, *dimText);
        if (dim == 0 || dim > SvdReader::kMaxDim)
            fail(element, "dim " + *dimText + " is outside 1.." + std::to_string(SvdReader::kMaxDim));
        std::vector<std::string> indices;
        const std::string list = childText(element, "dimIndex").value_or("");
        const auto dash = list.find('-');
        if (list.empty()) {
            for (std::uint64_t i = 0; i < dim; ++i)
                indices.push_back(std::to_string(i));
        } else if (list.find(',') == std::string::npos && dash != std::string::npos && dash > 0) {
            const std::string from = list.substr(0, dash);
            const std::string to = list.substr(dash + 1);
            if (from.size() == 1 && to.size() == 1 && std::isalpha(from[0]) && std::isalpha(to[0])) {
                for (char c = from[0]; c <= to[0]; ++c)
                    indices.emplace_back(1, c);
            } else {
                const std::uint64_t first = number(element, from);
                const std::uint64_t last = number(element, to);
                for (std::uint64_t i = first; i <= last && indices.size() <= dim; ++i)
                    indices.push_back(std::to_string(i));
            }
        } else {
            boost::algorithm::split(indices, list, [](char c) { return c == ','; });
            for (auto& index : indices)
                boost::algorithm::trim(index);
        }
        if (indices.size() != dim)
            fail(element, "dimIndex \"" + list + "\" has " + std::to_string(indices.size()) + " entries for dim " +
                              std::to_string(dim));
        if (name.find("%s") == std::string::npos)
            fail(element, "has dim " + std::to_string(dim) + " but no %s in its name");
        std::vector<DimCopy> copies;
        for (std::uint64_t i = 0; i < dim; ++i)
            copies.push_back({boost::algorithm::replace_all_copy(name, "%s", indices[i]), i});
        return copies;
    }

    std::vector<SvdValue> enumeration(const Element* element)
    {
        const auto known = enumerations_done_.find(element);
        if (known != enumerations_done_.end())
            return known->second;
        Visit visit(*this, element);
        std::vector<SvdValue> values;
        if (const auto base = derivedFrom(element)) {
            const auto found = enumerations_.find(*base);
            if (found == enumerations_.end())
                fail(element, "derivedFrom \"" + *base + "\" names no enumeratedValues");
            values = enumeration(found->second);
        }
        forEachChild(element, [&](const Element* valueElement) {
            if (valueElement->nodeName() != "enumeratedValue")
                return;
            const auto text = childText(valueElement, "value");
            if (!text)
                return; // "isDefault": every other value; there is no one number to name
            SvdValue value{childText(valueElement, "name").value_or(""),
                           oneLine(childText(valueElement, "description").value_or("")), 0};
            for (const auto matched : matchingValues(valueElement, *text)) {
                value.value = matched;
                std::erase_if(values, [&](const SvdValue& v) { return v.name == value.name && v.value == matched; });
                values.push_back(value);
            }
        });
        return enumerations_done_.emplace(element, std::move(values)).first->second;
    }

    /// The values "#1x0" stands for (100 and 110), or the one value of any other number.
    std::vector<std::uint64_t> matchingValues(const Element* element, const std::string& text)
    {
        if (text.empty() || text.front() != '#' || text.find_first_of("xX") == std::string::npos)
            return {number(element, text)};
        const std::string bits = text.substr(1);
        const auto dontCare = static_cast<unsigned>(std::count_if(bits.begin(), bits.end(), [](char c) { return c == 'x' || c == 'X'; }));
        if (dontCare > SvdReader::kMaxDontCareBits)
            fail(element, "value " + text + " has more than " + std::to_string(SvdReader::kMaxDontCareBits) +
                              " don't-care bits");
        std::vector<std::uint64_t> values;
        for (std::uint64_t choice = 0; choice < (std::uint64_t{1} << dontCare); ++choice) {
            std::string concrete = bits;
            unsigned next = 0;
            for (auto& c : concrete)
                if (c == 'x' || c == 'X')
                    c = ((choice >> (dontCare - 1 - next++)) & 1) ? '1' : '0';
            values.push_back(number(element, "#" + concrete));
        }
        return values;
    }

    const SvdField& fieldTemplate(const Element* element)
    {
        const auto known = fields_.find(element);
        if (known != fields_.end())
            return known->second;
        Visit visit(*this, element);
        SvdField field;
        const auto base = derivedFrom(element);
        if (base)
            field = fieldTemplate(referenced(element, *base, "field"));
        else
            field.access = inherited(element).access.value_or(SvdAccess::ReadWrite);
        if (const auto name = childText(element, "name"))
            field.name = *name;
        if (const auto description = childText(element, "description"))
            field.description = oneLine(*description);
        if (const auto text = childText(element, "access"))
            field.access = access(element, *text);
        const auto bitOffset = childText(element, "bitOffset");
        const auto lsb = childText(element, "lsb");
        const auto msb = childText(element, "msb");
        const auto bitRange = childText(element, "bitRange");
        if (bitOffset) {
            field.lsb = static_cast<std::uint32_t>(number(element, *bitOffset));
            // A derived field that moves keeps its base's width unless it gives its own.
            if (const auto width = childText(element, "bitWidth"))
                field.width = static_cast<std::uint32_t>(number(element, *width));
            else if (!base)
                field.width = 1;
        } else if (lsb && msb) {
            field.lsb = static_cast<std::uint32_t>(number(element, *lsb));
            const auto high = number(element, *msb);
            if (high < field.lsb)
                fail(element, "msb " + *msb + " is below lsb " + *lsb);
            field.width = static_cast<std::uint32_t>(high - field.lsb + 1);
        } else if (bitRange) {
            const auto colon = bitRange->find(':');
            if (bitRange->size() < 5 || bitRange->front() != '[' || bitRange->back() != ']' || colon == std::string::npos)
                fail(element, "bitRange \"" + *bitRange + "\" is not [msb:lsb]");
            const auto high = number(element, bitRange->substr(1, colon - 1));
            field.lsb = static_cast<std::uint32_t>(number(element, bitRange->substr(colon + 1, bitRange->size() - colon - 2)));
            if (high < field.lsb)
                fail(element, "bitRange " + *bitRange + " has its msb below its lsb");
            field.width = static_cast<std::uint32_t>(high - field.lsb + 1);
        } else if (!base) {
            fail(element, "has no bitOffset, lsb and msb, or bitRange");
        }
        if (field.width == 0 || field.width > 64 || field.lsb >= 64)
            fail(element, "bits from " + std::to_string(field.lsb) + ", " + std::to_string(field.width) +
                              " wide, are not in a register");
        // A field may give a list for reading and one for writing; a reader wants the first.
        const Element* chosen = nullptr;
        forEachChild(element, [&](const Element* values) {
            if (values->nodeName() == "enumeratedValues" && (!chosen || childText(chosen, "usage") == "write"))
                chosen = values;
        });
        if (chosen) {
            field.values = enumeration(chosen);
            field.valuesName = pathOf_[element];
        }
        return fields_.emplace(element, std::move(field)).first->second;
    }

    template <class Item>
    static void replaceOrAdd(std::vector<Item>& items, Item item)
    {
        const auto same = std::find_if(items.begin(), items.end(), [&](const Item& i) { return i.name == item.name; });
        if (same == items.end())
            items.push_back(std::move(item));
        else
            *same = std::move(item);
    }

    const SvdRegister& registerTemplate(const Element* element)
    {
        const auto known = registers_.find(element);
        if (known != registers_.end())
            return known->second;
        Visit visit(*this, element);
        SvdRegister reg;
        const auto base = derivedFrom(element);
        if (base) {
            reg = registerTemplate(referenced(element, *base, "register"));
        } else {
            const auto& properties = inherited(element);
            reg.sizeBits = properties.sizeBits.value_or(32);
            reg.access = properties.access.value_or(SvdAccess::ReadWrite);
            reg.resetValue = properties.resetValue.value_or(0);
            if (!childText(element, "addressOffset"))
                fail(element, "has no addressOffset");
        }
        if (const auto name = childText(element, "name"))
            reg.name = *name;
        else if (!base)
            fail(element, "a register has no <name>");
        if (const auto description = childText(element, "description"))
            reg.description = oneLine(*description);
        if (const auto offset = childText(element, "addressOffset"))
            reg.offset = number(element, *offset);
        if (const auto size = childText(element, "size"))
            reg.sizeBits = static_cast<std::uint32_t>(number(element, *size));
        if (const auto text = childText(element, "access"))
            reg.access = access(element, *text);
        if (const auto resetValue = childText(element, "resetValue"))
            reg.resetValue = number(element, *resetValue);
        if (childText(element, "readAction"))
            reg.readHasSideEffect = true;
        if (reg.sizeBits == 0 || reg.sizeBits > 64 || reg.sizeBits % 8 != 0)
            fail(element, "size " + std::to_string(reg.sizeBits) + " is not 8, 16, 32 or 64 bits");
        forEachChild(firstChild(element, "fields"), [&](const Element* fieldElement) {
            if (fieldElement->nodeName() != "field")
                return;
            const SvdField& field = fieldTemplate(fieldElement);
            const auto copies = dimCopies(fieldElement, field.name);
            const std::uint64_t step = copies.size() > 1 ? increment(fieldElement) : 0;
            count(fieldElement, copies.size());
            for (const auto& copy : copies) {
                SvdField placed = field;
                placed.name = copy.name;
                placed.lsb = static_cast<std::uint32_t>(field.lsb + copy.index * step);
                if (placed.lsb + placed.width > reg.sizeBits)
                    fail(fieldElement, "bits [" + std::to_string(placed.lsb + placed.width - 1) + ":" +
                                           std::to_string(placed.lsb) + "] are outside its " +
                                           std::to_string(reg.sizeBits) + "-bit register");
                replaceOrAdd(reg.fields, std::move(placed));
            }
        });
        return registers_.emplace(element, std::move(reg)).first->second;
    }

    /// Adds the registers and clusters that are children of `parent` to `block`, each of its
    /// "dim" copies placed, replacing same-named ones a base gave.
    void readBlock(const Element* parent, SvdRegisterBlock& block)
    {
        forEachChild(parent, [&](const Element* element) {
            const std::string& kind = element->nodeName();
            if (kind == "register") {
                const SvdRegister& reg = registerTemplate(element);
                const auto copies = dimCopies(element, reg.name);
                const std::uint64_t step = copies.size() > 1 ? increment(element) : 0;
                count(element, copies.size());
                for (const auto& copy : copies) {
                    SvdRegister placed = reg;
                    placed.name = copy.name;
                    placed.offset += copy.index * step;
                    replaceOrAdd(block.registers, std::move(placed));
                }
            } else if (kind == "cluster") {
                const SvdCluster& cluster = clusterTemplate(element);
                const auto copies = dimCopies(element, cluster.name);
                const std::uint64_t step = copies.size() > 1 ? increment(element) : 0;
                for (const auto& copy : copies) {
                    SvdCluster placed = cluster;
                    placed.name = copy.name;
                    placed.offset += copy.index * step;
                    replaceOrAdd(block.clusters, std::move(placed));
                }
            }
        });
    }

    const SvdCluster& clusterTemplate(const Element* element)
    {
        const auto known = clusters_.find(element);
        if (known != clusters_.end())
            return known->second;
        Visit visit(*this, element);
        SvdCluster cluster;
        const auto base = derivedFrom(element);
        if (base)
            cluster = clusterTemplate(referenced(element, *base, "cluster"));
        if (const auto name = childText(element, "name"))
            cluster.name = *name;
        else if (!base)
            fail(element, "a cluster has no <name>");
        if (const auto description = childText(element, "description"))
            cluster.description = oneLine(*description);
        if (const auto offset = childText(element, "addressOffset"))
            cluster.offset = number(element, *offset);
        const bool ownRegisters = firstChild(element, "register") || firstChild(element, "cluster");
        if (!base || ownRegisters)
            cluster.layoutName = withoutDimMarks(pathOf_[element]);
        readBlock(element, cluster.block);
        return clusters_.emplace(element, std::move(cluster)).first->second;
    }

    const SvdPeripheral& peripheralTemplate(const Element* element)
    {
        const auto known = peripheralsDone_.find(element);
        if (known != peripheralsDone_.end())
            return known->second;
        Visit visit(*this, element);
        SvdPeripheral peripheral;
        const auto base = derivedFrom(element);
        if (base) {
            const auto found = peripherals_.find(*base);
            if (found == peripherals_.end())
                fail(element, "derivedFrom \"" + *base + "\" names no peripheral");
            peripheral = peripheralTemplate(found->second);
        }
        if (const auto name = childText(element, "name"); name && !name->empty())
            peripheral.name = *name;
        else
            fail(element, "a peripheral has no <name>");
        if (const auto description = childText(element, "description"))
            peripheral.description = oneLine(*description);
        if (const auto group = childText(element, "groupName"))
            peripheral.groupName = *group;
        if (const auto address = childText(element, "baseAddress"))
            peripheral.baseAddress = number(element, *address);
        else if (!base)
            fail(element, "has no baseAddress");
        forEachChild(element, [&](const Element* block) {
            if (block->nodeName() != "addressBlock")
                return;
            const auto end = number(block, childText(block, "offset").value_or("0")) +
                             number(block, childText(block, "size").value_or("0"));
            peripheral.addressBlockEnd = std::max(peripheral.addressBlockEnd, end);
        });
        const Element* registers = firstChild(element, "registers");
        if (!base || registers)
            peripheral.layoutName = withoutDimMarks(peripheral.name);
        readBlock(registers, peripheral.block);
        return peripheralsDone_.emplace(element, std::move(peripheral)).first->second;
    }

    const Element* device_;
    std::string source_;
    std::unordered_map<const Element*, std::string> pathOf_;
    std::unordered_map<std::string, const Element*> peripherals_;
    std::unordered_map<std::string, const Element*> paths_;
    std::unordered_map<std::string, const Element*> enumerations_;
    std::unordered_map<const Element*, InheritedProperties> inherited_;
    std::unordered_map<const Element*, SvdField> fields_;
    std::unordered_map<const Element*, SvdRegister> registers_;
    std::unordered_map<const Element*, SvdCluster> clusters_;
    std::unordered_map<const Element*, SvdPeripheral> peripheralsDone_;
    std::unordered_map<const Element*, std::vector<SvdValue>> enumerations_done_;
    std::unordered_set<const Element*> resolving_;
    std::uint64_t elements_ = 0;
};

} // namespace

SvdDevice SvdReader::readFile(const fs::path& file)
{
    return readText(readPackFile(file, kMaxFileBytes), file.string());
}

SvdDevice SvdReader::readText(const std::string& text, const std::string& sourceName)
{
    if (text.size() > kMaxFileBytes)
        throw PackSourceError(sourceName + ": " + std::to_string(text.size() >> 20) + " MiB is over the " +
                              std::to_string(kMaxFileBytes >> 20) + " MiB this file may have");
    const auto document = parsePackXml(text, sourceName, "device");
    return Resolver(document->documentElement(), sourceName).run();
}

SvdReader::Head SvdReader::peekHead(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::string head(64 * 1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    // The device's own elements come before its first peripheral; a <name> after that is another's.
    const auto device = head.find("<device");
    if (device == std::string::npos)
        return {};
    const auto peripherals = head.find("<peripherals", device);
    const auto element = [&](const std::string& tag) {
        const auto open = head.find("<" + tag + ">", device);
        const auto close = head.find("</" + tag + ">", open);
        if (open == std::string::npos || close == std::string::npos || open > peripherals)
            return std::string();
        return boost::algorithm::trim_copy(head.substr(open + tag.size() + 2, close - open - tag.size() - 2));
    };
    return {element("name"), element("vendor")};
}

} // namespace hil::packs
