// SPDX-License-Identifier: Apache-2.0
#include "packmanager/SvdResolver.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include <Poco/DOM/Element.h>
#include <boost/algorithm/string.hpp>
#include <boost/algorithm/string/join.hpp>

#include "packmanager/PackXml.h"
#include "packmanager/SvdReader.h"

namespace hil::packs {

using Poco::XML::Element;
using Poco::XML::Node;

namespace {

/// A fault of one element: it is left out where it would have been added, and the rest is read.
/// One of the device itself leaves nothing to read, and goes to the caller as any other refusal.
class ElementFault : public PackSourceError {
public:
    using PackSourceError::PackSourceError;
};

struct InheritedProperties {
    std::optional<std::uint32_t> sizeBits;
    std::optional<SvdAccess> access;
    std::optional<std::uint64_t> resetValue;
};

struct DimCopy {
    std::string name;
    std::uint64_t index;
};

/// How many registers and fields an item holds, itself included: what a copy of it costs.
std::uint64_t weight(const SvdField&) { return 1; }
std::uint64_t weight(const SvdRegister& reg) { return 1 + reg.fields.size(); }
std::uint64_t weight(const SvdRegisterBlock& block);
std::uint64_t weight(const SvdCluster& cluster) { return weight(cluster.block); }
std::uint64_t weight(const SvdPeripheral& peripheral) { return weight(peripheral.block); }
std::uint64_t weight(const SvdRegisterBlock& block)
{
    std::uint64_t total = 0;
    for (const auto& reg : block.registers)
        total += weight(reg);
    for (const auto& cluster : block.clusters)
        total += weight(cluster);
    return total;
}

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

/// The trimmed text of an element. Most hold one text node: that one is read without the
/// concatenation `innerText` makes.
std::string textOf(const Element* element)
{
    const Node* first = element->firstChild();
    if (first && !first->nextSibling() && first->nodeType() == Node::TEXT_NODE)
        return trimmedText(first->nodeValue());
    return trimmedText(element->innerText());
}

/// The trimmed text of the named child, or nothing when there is no such child.
std::optional<std::string> childText(const Element* parent, const char* name)
{
    const Element* child = firstChild(parent, name);
    if (!child)
        return std::nullopt;
    return textOf(child);
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

/// Resolves one `<device>` element in one walk from the top, each element's inherited
/// properties handed down to it. Only an element that a derivedFrom names is kept once resolved
/// (with the properties its own place gives it), so a base that a hundred elements derive from
/// is read once and an element nobody names costs no copy.
class Resolver {
public:
    Resolver(const Element* device, std::string source) : device_(device), source_(std::move(source)) {}

    SvdDevice run()
    {
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
        const Element* peripherals = firstChild(device_, "peripherals");
        forEachChild(peripherals, [&](const Element* element) {
            if (element->nodeName() == "peripheral")
                peripherals_.emplace(childText(element, "name").value_or(""), element);
        });
        const InheritedProperties scope = withOwnProperties(device_, {});
        forEachChild(peripherals, [&](const Element* element) {
            if (element->nodeName() != "peripheral")
                return;
            orLeaveOut([&] {
                addCopies(element, buildPeripheral(element, scope), result.peripherals, false,
                          [](SvdPeripheral& placed, std::uint64_t step) { placed.baseAddress += step; });
            });
        });
        result.warnings = std::move(warnings_);
        return result;
    }

private:
    /// "UART0.CTRL.EN": the names of the element and of the peripheral, clusters, register and
    /// field around it; empty outside a peripheral. A named value adds its own name.
    std::string pathOf(const Element* element) const
    {
        std::vector<std::string> names;
        for (const Node* node = element; node && node != device_; node = node->parentNode()) {
            if (node->nodeType() != Node::ELEMENT_NODE)
                continue;
            const std::string& kind = node->nodeName();
            if (kind == "peripheral" || kind == "cluster" || kind == "register" || kind == "field" || kind == "enumeratedValue")
                names.push_back(childText(static_cast<const Element*>(node), "name").value_or(""));
        }
        std::reverse(names.begin(), names.end());
        return boost::algorithm::join(names, ".");
    }

    /// "f.svd: UART0.CTRL: `text`".
    std::string message(const std::string& path, const std::string& text) const
    {
        return source_ + ": " + (path.empty() ? "" : path + ": ") + text;
    }

    std::string message(const Element* element, const std::string& text) const { return message(pathOf(element), text); }

    /// `element` cannot be used: see `ElementFault`.
    [[noreturn]] void fail(const Element* element, const std::string& text) const
    {
        throw ElementFault(message(element, text));
    }

    /// Each once: a base is resolved again for each place that names it.
    void warn(std::string text)
    {
        if (warned_.insert(text).second)
            warnings_.push_back(std::move(text));
    }

    void warn(const Element* element, const std::string& text) { warn(message(element, text)); }

    /// Runs `read`, which reads one element into its parent; a fault of that element leaves it
    /// out, said in a warning, and the reading goes on.
    template <class Read>
    void orLeaveOut(const Read& read)
    {
        try {
            read();
        } catch (const ElementFault& fault) {
            warn(std::string(fault.what()) + "; left out");
        }
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

    /// The access `text` names; nothing for a text that names none, which is ignored with a
    /// warning: the element keeps the access around it.
    std::optional<SvdAccess> access(const Element* element, const std::string& text)
    {
        static const std::unordered_map<std::string, SvdAccess> kAccess{
            {"read-only", SvdAccess::ReadOnly},   {"read", SvdAccess::ReadOnly},       {"write-only", SvdAccess::WriteOnly},
            {"write", SvdAccess::WriteOnly},      {"read-write", SvdAccess::ReadWrite}, {"writeonce", SvdAccess::WriteOnce},
            {"read-writeonce", SvdAccess::ReadWriteOnce}};
        const auto found = kAccess.find(asciiLower(text));
        if (found != kAccess.end())
            return found->second;
        warn(element, "\"" + text + "\" is not an access; ignored");
        return std::nullopt;
    }

    /// `scope` with the register properties `element` sets itself.
    InheritedProperties withOwnProperties(const Element* element, InheritedProperties scope)
    {
        if (const auto size = childText(element, "size"))
            scope.sizeBits = static_cast<std::uint32_t>(number(element, *size));
        if (const auto resetValue = childText(element, "resetValue"))
            scope.resetValue = number(element, *resetValue);
        if (const auto text = childText(element, "access"))
            if (const auto own = access(element, *text))
                scope.access = own;
        return scope;
    }

    /// What the elements around `element` hand down to it: for a base resolved out of the walk.
    InheritedProperties inheritedAt(const Element* element)
    {
        std::vector<const Element*> around;
        for (const Node* node = element->parentNode(); node && node->nodeType() == Node::ELEMENT_NODE; node = node->parentNode()) {
            const std::string& kind = node->nodeName();
            if (kind == "device" || kind == "peripheral" || kind == "cluster" || kind == "register")
                around.push_back(static_cast<const Element*>(node));
            if (node == device_)
                break;
        }
        InheritedProperties scope;
        for (auto outer = around.rbegin(); outer != around.rend(); ++outer)
            scope = withOwnProperties(*outer, scope);
        return scope;
    }

    /// Every cluster, register and field by its dotted path: made the first time a derivedFrom
    /// of one of them needs it, since most files name none.
    void indexPaths()
    {
        if (pathsIndexed_)
            return;
        pathsIndexed_ = true;
        for (const auto& [name, peripheral] : peripherals_)
            indexBlock(firstChild(peripheral, "registers"), name);
    }

    void indexBlock(const Element* parent, const std::string& scope)
    {
        forEachChild(parent, [&](const Element* element) {
            const std::string& kind = element->nodeName();
            if (kind != "register" && kind != "cluster")
                return;
            const std::string path = scope + "." + childText(element, "name").value_or("");
            paths_.emplace(path, element);
            if (kind == "cluster") {
                indexBlock(element, path);
                return;
            }
            forEachChild(firstChild(element, "fields"), [&](const Element* field) {
                if (field->nodeName() == "field")
                    paths_.emplace(path + "." + childText(field, "name").value_or(""), field);
            });
        });
    }

    /// Every enumeratedValues with a name, by its name and by its field's path and name.
    void indexEnumerations()
    {
        if (enumerationsIndexed_)
            return;
        enumerationsIndexed_ = true;
        indexPaths();
        for (const auto& entry : paths_) {
            const std::string& path = entry.first;
            const Element* element = entry.second;
            if (element->nodeName() != "field")
                continue;
            forEachChild(element, [&](const Element* values) {
                if (values->nodeName() != "enumeratedValues")
                    return;
                if (const auto name = childText(values, "name")) {
                    enumerations_.emplace(*name, values);
                    enumerations_.emplace(path + "." + *name, values);
                }
            });
        }
    }

    /// Marks an element as being resolved while it is: a derivedFrom naming it then is a chain
    /// that comes back (see `baseOf`).
    class Visit {
    public:
        Visit(Resolver& resolver, const Element* element) : resolver_(resolver), element_(element)
        {
            resolver.resolving_.insert(element);
        }
        ~Visit() { resolver_.resolving_.erase(element_); }
        Visit(const Visit&) = delete;
        Visit& operator=(const Visit&) = delete;

    private:
        Resolver& resolver_;
        const Element* element_;
    };

    /// The element of `kind` a derivedFrom of `element` names: a sibling, then a path from each
    /// enclosing scope outwards, then a path from the device; null when it names none.
    const Element* referenced(const Element* element, const std::string& reference, const std::string& kind)
    {
        indexPaths();
        std::string scope = pathOf(element);
        do {
            const auto cut = scope.rfind('.');
            scope = cut == std::string::npos ? std::string() : scope.substr(0, cut);
            const auto found = paths_.find(scope.empty() ? reference : scope + "." + reference);
            if (found != paths_.end() && found->second->nodeName() == kind && found->second != element)
                return found->second;
        } while (!scope.empty());
        return nullptr;
    }

    static const Element* named(const std::unordered_map<std::string, const Element*>& elements, const std::string& name)
    {
        const auto found = elements.find(name);
        return found == elements.end() ? nullptr : found->second;
    }

    static std::optional<std::string> derivedFrom(const Element* element)
    {
        if (!element->hasAttribute("derivedFrom"))
            return std::nullopt;
        return trimmedText(element->getAttribute("derivedFrom"));
    }

    /// The resolved base, made once for all who derive from it.
    template <class Item, class Build>
    const Item& base(std::unordered_map<const Element*, Item>& kept, const Element* element, const Build& build)
    {
        const auto known = kept.find(element);
        if (known != kept.end())
            return known->second;
        Item item = build();
        return kept.emplace(element, std::move(item)).first->second;
    }

    /// The resolved base `found` that the derivedFrom `reference` of `element` names (null: it
    /// names no `kind`), `build(found)` making it once for all who derive from it. Null when
    /// there is none to be had, said in a warning: the element is then read from its own
    /// children alone, which is all a base that names nothing can leave it. It stays so, so that
    /// a chain that comes back is cut at one place however it is entered.
    template <class Item, class Build>
    const Item* baseOf(const Element* element, const std::string& reference, const std::string& kind,
                       const Element* found, std::unordered_map<const Element*, Item>& kept, const Build& build)
    {
        if (readAlone_.count(element))
            return nullptr;
        std::string why = "names no " + kind;
        if (found && resolving_.count(found)) {
            why = "makes a chain that comes back to it";
        } else if (found) {
            try {
                return &base(kept, found, [&] { return build(found); });
            } catch (const ElementFault& fault) {
                warn(std::string(fault.what()) + "; left out");
                why = "names a " + kind + " that is left out";
            }
        }
        warn(element, "derivedFrom \"" + reference + "\" " + why + "; read without it");
        readAlone_.insert(element);
        return nullptr;
    }

    /// When `element` is derived from another `kind` element that can be had, `item` starts as
    /// that one's result (`build(found)` makes it); whether it does.
    template <class Item, class Build>
    bool startFromBase(const Element* element, const std::string& kind, std::unordered_map<const Element*, Item>& kept,
                       Item& item, const Build& build)
    {
        const auto reference = derivedFrom(element);
        if (!reference)
            return false;
        const Item* from = baseOf(element, *reference, kind, referenced(element, *reference, kind), kept, build);
        if (from)
            item = *from;
        return from != nullptr;
    }

    /// A device over the limit is refused whole: leaving out what passes it would still make
    /// the copies that fill the memory.
    void count(const Element* element, std::uint64_t made)
    {
        elements_ += made;
        if (elements_ > SvdReader::kMaxElements)
            throw PackSourceError(message(element, "the device has more than " + std::to_string(SvdReader::kMaxElements) +
                                                       " registers and fields"));
    }

    std::uint64_t increment(const Element* element) const
    {
        const auto text = childText(element, "dimIncrement");
        if (!text)
            fail(element, "has dim but no dimIncrement");
        return number(element, *text);
    }

    std::vector<DimCopy> dimCopies(const Element* element, const std::string& name) const
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
                index = trimmedText(index);
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

    /// Adds `item`, or replaces the one of its name that a base gave.
    template <class Item>
    static void replaceOrAdd(std::vector<Item>& items, Item item, bool fromBase)
    {
        if (fromBase) {
            const auto same = std::find_if(items.begin(), items.end(), [&](const Item& i) { return i.name == item.name; });
            if (same != items.end()) {
                *same = std::move(item);
                return;
            }
        }
        items.push_back(std::move(item));
    }

    /// Adds the "dim" copies of `item` (made from `element`) to `items`; `place` moves a copy
    /// to its index times the element's increment.
    template <class Item, class Place>
    void addCopies(const Element* element, Item item, std::vector<Item>& items, bool fromBase, const Place& place)
    {
        const auto copies = dimCopies(element, item.name);
        // Counted before they are made: a dim of a dim must fail, not fill the memory.
        count(element, (copies.size() - 1) * weight(item));
        const std::uint64_t step = copies.size() > 1 ? increment(element) : 0;
        for (std::size_t i = 0; i < copies.size(); ++i) {
            Item placed = i + 1 < copies.size() ? item : std::move(item);
            placed.name = copies[i].name;
            place(placed, copies[i].index * step);
            replaceOrAdd(items, std::move(placed), fromBase);
        }
    }

    std::vector<SvdValue> buildEnumeration(const Element* element)
    {
        Visit visit(*this, element);
        std::vector<SvdValue> values;
        if (const auto reference = derivedFrom(element)) {
            indexEnumerations();
            if (const auto* from = baseOf(element, *reference, "enumeratedValues", named(enumerations_, *reference), enumerationsKept_,
                                          [&](const Element* found) { return buildEnumeration(found); }))
                values = *from;
        }
        forEachChild(element, [&](const Element* valueElement) {
            if (valueElement->nodeName() != "enumeratedValue")
                return;
            const auto text = childText(valueElement, "value");
            if (!text)
                return; // "isDefault": every other value; there is no one number to name
            orLeaveOut([&] {
                SvdValue value{childText(valueElement, "name").value_or(""),
                               oneLine(childText(valueElement, "description").value_or("")), 0};
                for (const auto matched : matchingValues(valueElement, *text)) {
                    value.value = matched;
                    std::erase_if(values, [&](const SvdValue& v) { return v.name == value.name && v.value == matched; });
                    values.push_back(value);
                }
            });
        });
        return values;
    }

    /// The values "#1x0" or "0b1x0" stands for (100 and 110), or the one value of any other number.
    std::vector<std::uint64_t> matchingValues(const Element* element, const std::string& text) const
    {
        const std::size_t prefix = svdBinaryPrefix(text);
        if (prefix == 0 || text.find_first_of("xX", prefix) == std::string::npos)
            return {number(element, text)};
        const std::string bits = text.substr(prefix);
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

    /// `registerAccess`: what a field without an access of its own (or a base's) has.
    SvdField buildField(const Element* element, SvdAccess registerAccess)
    {
        Visit visit(*this, element);
        SvdField field;
        const bool derived = startFromBase(element, "field", fieldsKept_, field, [&](const Element* found) {
            return buildField(found, inheritedAt(found).access.value_or(SvdAccess::ReadWrite));
        });
        if (!derived)
            field.access = registerAccess;
        if (const auto name = childText(element, "name"))
            field.name = *name;
        if (const auto description = childText(element, "description"))
            field.description = oneLine(*description);
        if (const auto text = childText(element, "access"))
            field.access = access(element, *text).value_or(field.access);
        const auto bitOffset = childText(element, "bitOffset");
        const auto lsb = childText(element, "lsb");
        const auto msb = childText(element, "msb");
        const auto bitRange = childText(element, "bitRange");
        if (bitOffset) {
            field.lsb = static_cast<std::uint32_t>(number(element, *bitOffset));
            // A derived field that moves keeps its base's width unless it gives its own.
            if (const auto width = childText(element, "bitWidth"))
                field.width = static_cast<std::uint32_t>(number(element, *width));
            else if (!derived)
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
        } else if (!derived) {
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
            field.values = chosen->hasAttribute("derivedFrom") || chosen->firstChild()
                               ? base(enumerationsKept_, chosen, [&] { return buildEnumeration(chosen); })
                               : std::vector<SvdValue>{};
            field.valuesName = pathOf(element);
        }
        return field;
    }

    SvdRegister buildRegister(const Element* element, const InheritedProperties& scope)
    {
        Visit visit(*this, element);
        SvdRegister reg;
        const bool derived = startFromBase(element, "register", registersKept_, reg,
                                           [&](const Element* found) { return buildRegister(found, inheritedAt(found)); });
        if (derived) {
            count(element, reg.fields.size());
        } else {
            reg.sizeBits = scope.sizeBits.value_or(32);
            reg.access = scope.access.value_or(SvdAccess::ReadWrite);
            reg.resetValue = scope.resetValue.value_or(0);
        }
        bool hasOffset = false;
        forEachChild(element, [&](const Element* child) {
            const std::string& kind = child->nodeName();
            if (kind == "name")
                reg.name = textOf(child);
            else if (kind == "description")
                reg.description = oneLine(textOf(child));
            else if (kind == "addressOffset")
                hasOffset = true, reg.offset = number(element, textOf(child));
            else if (kind == "size")
                reg.sizeBits = static_cast<std::uint32_t>(number(element, textOf(child)));
            else if (kind == "access")
                reg.access = access(element, textOf(child)).value_or(reg.access);
            else if (kind == "resetValue")
                reg.resetValue = number(element, textOf(child));
            else if (kind == "readAction")
                reg.readHasSideEffect = true;
        });
        if (!derived && reg.name.empty())
            fail(element, "a register has no <name>");
        if (!derived && !hasOffset)
            fail(element, "has no addressOffset");
        // Any size up to 64 bits can be read: the description rounds it up to whole bytes.
        if (reg.sizeBits == 0 || reg.sizeBits > 64)
            fail(element, "size " + std::to_string(reg.sizeBits) + " is not 1 to 64 bits");
        const bool fieldsFromBase = !reg.fields.empty();
        forEachChild(firstChild(element, "fields"), [&](const Element* fieldElement) {
            if (fieldElement->nodeName() != "field")
                return;
            orLeaveOut([&] {
                SvdField field = buildField(fieldElement, reg.access);
                count(fieldElement, 1);
                addCopies(fieldElement, std::move(field), reg.fields, fieldsFromBase, [](SvdField& placed, std::uint64_t step) {
                    placed.lsb = static_cast<std::uint32_t>(placed.lsb + step);
                });
            });
        });
        fitFields(element, reg);
        return reg;
    }

    /// Cuts each field that passes the end of `reg` at it, and leaves out one that starts past
    /// it: the bits the register has are still worth showing. Fields a base gave are fitted
    /// too, since a derived register may be smaller.
    void fitFields(const Element* element, SvdRegister& reg)
    {
        std::vector<SvdField> fitting;
        fitting.reserve(reg.fields.size());
        for (auto& field : reg.fields) {
            if (field.lsb + field.width <= reg.sizeBits) {
                fitting.push_back(std::move(field));
                continue;
            }
            const std::string outside = message(pathOf(element) + "." + field.name,
                                                "bits [" + std::to_string(field.lsb + field.width - 1) + ":" +
                                                    std::to_string(field.lsb) + "] are outside its " +
                                                    std::to_string(reg.sizeBits) + "-bit register; ");
            if (field.lsb >= reg.sizeBits) {
                warn(outside + "left out");
                continue;
            }
            field.width = reg.sizeBits - field.lsb;
            warn(outside + "kept as [" + std::to_string(reg.sizeBits - 1) + ":" + std::to_string(field.lsb) + "]");
            fitting.push_back(std::move(field));
        }
        reg.fields = std::move(fitting);
    }

    /// Adds the registers and clusters that are children of `parent` to `block`, each of its
    /// "dim" copies placed, replacing same-named ones a base gave.
    void readBlock(const Element* parent, SvdRegisterBlock& block, const InheritedProperties& scope)
    {
        const bool fromBase = !block.registers.empty() || !block.clusters.empty();
        forEachChild(parent, [&](const Element* element) {
            const std::string& kind = element->nodeName();
            if (kind == "register") {
                orLeaveOut([&] {
                    count(element, 1);
                    addCopies(element, buildRegister(element, scope), block.registers, fromBase,
                              [](SvdRegister& placed, std::uint64_t step) { placed.offset += step; });
                });
            } else if (kind == "cluster") {
                orLeaveOut([&] {
                    addCopies(element, buildCluster(element, scope), block.clusters, fromBase,
                              [](SvdCluster& placed, std::uint64_t step) { placed.offset += step; });
                });
            }
        });
    }

    /// `scope`: what the peripheral or cluster around it hands down.
    SvdCluster buildCluster(const Element* element, const InheritedProperties& scope)
    {
        Visit visit(*this, element);
        SvdCluster cluster;
        const bool derived = startFromBase(element, "cluster", clustersKept_, cluster,
                                           [&](const Element* found) { return buildCluster(found, inheritedAt(found)); });
        if (derived)
            count(element, weight(cluster));
        if (const auto name = childText(element, "name"))
            cluster.name = *name;
        else if (!derived)
            fail(element, "a cluster has no <name>");
        if (const auto description = childText(element, "description"))
            cluster.description = oneLine(*description);
        if (const auto offset = childText(element, "addressOffset"))
            cluster.offset = number(element, *offset);
        const bool ownRegisters = firstChild(element, "register") || firstChild(element, "cluster");
        if (!derived || ownRegisters)
            cluster.layoutName = withoutDimMarks(pathOf(element));
        readBlock(element, cluster.block, withOwnProperties(element, scope));
        return cluster;
    }

    SvdPeripheral buildPeripheral(const Element* element, const InheritedProperties& scope)
    {
        Visit visit(*this, element);
        SvdPeripheral peripheral;
        bool derived = false;
        if (const auto reference = derivedFrom(element)) {
            if (const auto* from = baseOf(element, *reference, "peripheral", named(peripherals_, *reference), peripheralsKept_,
                                          [&](const Element* found) { return buildPeripheral(found, withOwnProperties(device_, {})); })) {
                peripheral = *from;
                derived = true;
                count(element, weight(peripheral));
            }
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
        else if (!derived)
            fail(element, "has no baseAddress");
        forEachChild(element, [&](const Element* block) {
            if (block->nodeName() != "addressBlock")
                return;
            const auto end = number(block, childText(block, "offset").value_or("0")) +
                             number(block, childText(block, "size").value_or("0"));
            peripheral.addressBlockEnd = std::max(peripheral.addressBlockEnd, end);
        });
        const Element* registers = firstChild(element, "registers");
        if (!derived || registers)
            peripheral.layoutName = withoutDimMarks(peripheral.name);
        readBlock(registers, peripheral.block, withOwnProperties(element, scope));
        return peripheral;
    }

    const Element* device_;
    std::string source_;
    std::unordered_map<std::string, const Element*> peripherals_;
    bool pathsIndexed_ = false;
    std::unordered_map<std::string, const Element*> paths_;
    bool enumerationsIndexed_ = false;
    std::unordered_map<std::string, const Element*> enumerations_;
    std::unordered_map<const Element*, SvdField> fieldsKept_;
    std::unordered_map<const Element*, SvdRegister> registersKept_;
    std::unordered_map<const Element*, SvdCluster> clustersKept_;
    std::unordered_map<const Element*, SvdPeripheral> peripheralsKept_;
    std::unordered_map<const Element*, std::vector<SvdValue>> enumerationsKept_;
    std::unordered_set<const Element*> resolving_;
    /// Elements whose derivedFrom could not be had: see `baseOf`.
    std::unordered_set<const Element*> readAlone_;
    std::uint64_t elements_ = 0;
    std::vector<std::string> warnings_;
    std::unordered_set<std::string> warned_;
};

} // namespace

SvdDevice resolveSvdDevice(const Element* device, const std::string& source) { return Resolver(device, source).run(); }

} // namespace hil::packs
