// SPDX-License-Identifier: Apache-2.0
#include "packmanager/DescriptionView.h"

#include <map>

#include <Poco/DOM/Element.h>
#include <boost/algorithm/string.hpp>

#include "packmanager/PackXml.h"
#include "packmanager/SvdReader.h"

namespace hil::packs {

using Poco::XML::Element;
using Poco::XML::Node;

namespace {

template <class Visit>
void forEachChild(const Element* parent, const char* name, const Visit& visit)
{
    forEachChildElement(parent, name, visit);
}

struct Space {
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    bool bigEndian = false;
};

struct Module {
    std::map<std::string, std::vector<SvdValue>> valueGroups;
    std::map<std::string, const Element*> groups;
};

class ViewReader {
public:
    explicit ViewReader(std::vector<std::string>* faults) : faults_(faults) {}

    std::vector<ViewPeripheral> read(const Element* root)
    {
        forEachChild(root->getChildElement("modules"), "module", [&](const Element* module) { readModule(module); });
        const Element* devices = root->getChildElement("devices");
        const Element* device = devices ? devices->getChildElement("device") : nullptr;
        if (!device)
            throw PackSourceError("no <devices> with a <device> in it");
        forEachChild(device->getChildElement("address-spaces"), "address-space", [&](const Element* space) {
            spaces_[space->getAttribute("id")] = {number(space->getAttribute("start")), number(space->getAttribute("size")),
                                                  space->getAttribute("endianness") == "big"};
        });
        std::vector<ViewPeripheral> peripherals;
        forEachChild(device->getChildElement("peripherals"), "module", [&](const Element* moduleElement) {
            const std::string moduleName = moduleElement->getAttribute("name");
            const auto module = modules_.find(moduleName);
            forEachChild(moduleElement, "instance", [&](const Element* instance) {
                const std::string instanceName = instance->getAttribute("name");
                if (module == modules_.end()) {
                    fault("instance " + instanceName + ": module " + moduleName + " is not defined");
                    return;
                }
                std::vector<const Element*> references;
                forEachChild(instance, "register-group", [&](const Element* reference) { references.push_back(reference); });
                for (const auto* reference : references)
                    forEachCopy(reference, [&](const std::string& copyName, std::uint64_t offset, const Element* definition) {
                        ViewPeripheral peripheral;
                        const bool single = references.size() == 1 && !reference->hasAttribute("count");
                        peripheral.name = single ? instanceName : copyName;
                        peripheral.description = instance->getAttribute("description");
                        peripheral.module = moduleName;
                        peripheral.addressSpace = reference->getAttribute("address-space");
                        peripheral.address = offset;
                        peripheral.size = number(definition->getAttribute("size"));
                        const auto space = spaces_.find(peripheral.addressSpace);
                        if (space == spaces_.end()) {
                            fault(peripheral.name + ": address space \"" + peripheral.addressSpace + "\" is not defined");
                            return;
                        }
                        peripheral.bigEndian = space->second.bigEndian;
                        place(module->second, definition, offset, "", peripheral, space->second, 0);
                        peripherals.push_back(std::move(peripheral));
                    }, module->second, instanceName);
            });
        });
        return peripherals;
    }

private:
    void fault(const std::string& text) const
    {
        if (faults_)
            faults_->push_back(text);
    }

    static std::uint64_t number(const std::string& text)
    {
        try {
            return text.empty() ? 0 : parseSvdNumber(text);
        } catch (const std::invalid_argument&) {
            throw PackSourceError(text + " is not a number");
        }
    }

    void readModule(const Element* element)
    {
        Module& module = modules_[element->getAttribute("name")];
        forEachChild(element, "value-group", [&](const Element* group) {
            auto& values = module.valueGroups[group->getAttribute("name")];
            forEachChild(group, "value", [&](const Element* value) {
                values.push_back({value->getAttribute("name"), value->getAttribute("description"), number(value->getAttribute("value"))});
            });
        });
        forEachChild(element, "register-group", [&](const Element* group) { module.groups[group->getAttribute("name")] = group; });
    }

    /// Calls `make(name, offset, definition)` for each copy a group reference stands for.
    template <class Make>
    void forEachCopy(const Element* reference, const Make& make, const Module& module, const std::string& where)
    {
        const std::string definitionName = reference->getAttribute("name-in-module");
        const auto definition = module.groups.find(definitionName);
        const std::string name = reference->getAttribute("name");
        if (definition == module.groups.end()) {
            fault(where + ": register group " + name + " names \"" + definitionName + "\", which the module does not define");
            return;
        }
        const std::uint64_t count = reference->hasAttribute("count") ? number(reference->getAttribute("count")) : 1;
        const std::uint64_t size = number(definition->second->getAttribute("size"));
        const std::uint64_t offset = number(reference->getAttribute("offset"));
        for (std::uint64_t i = 0; i < count; ++i)
            make(count == 1 ? name : name + std::to_string(i), offset + size * i, definition->second);
    }

    void place(const Module& module, const Element* group, std::uint64_t base, const std::string& prefix,
               ViewPeripheral& peripheral, const Space& space, int depth)
    {
        if (depth > DescriptionView::kMaxNesting) {
            fault(peripheral.name + ": register groups nest deeper than " + std::to_string(DescriptionView::kMaxNesting) +
                  " (a group that holds itself?)");
            return;
        }
        forEachChild(group, "register", [&](const Element* element) {
            const std::uint32_t size = static_cast<std::uint32_t>(number(element->getAttribute("size")));
            const std::uint64_t count = element->hasAttribute("count") ? number(element->getAttribute("count")) : 1;
            for (std::uint64_t i = 0; i < count; ++i) {
                ViewRegister reg;
                reg.name = prefix + element->getAttribute("name") + (count == 1 ? "" : std::to_string(i));
                reg.description = element->getAttribute("description");
                reg.rw = element->getAttribute("rw");
                reg.size = size;
                reg.address = base + number(element->getAttribute("offset")) + size * i;
                reg.readHasSideEffect = element->getAttribute("access") == "side-effect-on-read";
                const std::string where = peripheral.name + "." + reg.name + " at " + hexText(reg.address);
                if (size == 0 || size > 8) {
                    fault(where + ": size " + std::to_string(size) + " is not 1 to 8 bytes");
                    continue;
                }
                if (reg.address < space.start || reg.address + size > space.start + space.size) {
                    fault(where + ": outside its address space " + peripheral.addressSpace + " (" + hexText(space.start) +
                          " + " + hexText(space.size) + ")");
                    continue;
                }
                forEachChild(element, "bitfield", [&](const Element* fieldElement) {
                    ViewField field;
                    field.name = fieldElement->getAttribute("name");
                    field.description = fieldElement->getAttribute("description");
                    field.rw = fieldElement->getAttribute("rw");
                    field.mask = number(fieldElement->getAttribute("mask"));
                    const std::uint64_t registerBits = size >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (size * 8)) - 1;
                    if (field.mask == 0 || (field.mask & ~registerBits) != 0) {
                        fault(where + ": bit-field " + field.name + " mask " + hexText(field.mask) + " is " +
                              (field.mask == 0 ? "empty" : "outside its " + std::to_string(size * 8) + "-bit register"));
                        return;
                    }
                    if (const std::string values = fieldElement->getAttribute("values"); !values.empty()) {
                        const auto group = module.valueGroups.find(values);
                        if (group == module.valueGroups.end())
                            fault(where + ": bit-field " + field.name + " names values \"" + values +
                                  "\", which the module does not define");
                        else
                            field.values = group->second;
                    }
                    reg.fields.push_back(std::move(field));
                });
                peripheral.registers.push_back(std::move(reg));
            }
        });
        forEachChild(group, "register-group", [&](const Element* nested) {
            forEachCopy(nested, [&](const std::string& name, std::uint64_t offset, const Element* definition) {
                place(module, definition, base + offset, prefix + name + ".", peripheral, space, depth + 1);
            }, module, peripheral.name);
        });
    }

    std::vector<std::string>* faults_;
    std::map<std::string, Module> modules_;
    std::map<std::string, Space> spaces_;
};

/// Description files are not bounded as SVD files are: an import may well make 50 MiB.
std::string descriptionText(const std::filesystem::path& file) { return readPackFile(file, std::uintmax_t{1} << 30); }

} // namespace

std::vector<ViewPeripheral> DescriptionView::read(const std::filesystem::path& file, std::vector<std::string>* faults)
{
    return readText(descriptionText(file), file.string(), faults);
}

std::vector<ViewPeripheral> DescriptionView::readText(const std::string& text, const std::string& source,
                                                      std::vector<std::string>* faults)
{
    const auto document = parsePackXml(text, source, "hil-device-file");
    try {
        return ViewReader(faults).read(document->documentElement());
    } catch (const PackSourceError& error) {
        throw PackSourceError(source + ": " + error.what());
    }
}

std::vector<std::string> DescriptionView::readWarnings(const std::filesystem::path& file)
{
    return readWarningsText(descriptionText(file), file.string());
}

std::vector<std::string> DescriptionView::readWarningsText(const std::string& text, const std::string& source)
{
    static const std::string kOpen = "<warnings>";
    static const std::string kClose = "</warnings>";
    const auto open = text.find(kOpen);
    const auto close = text.find(kClose, open);
    if (close == std::string::npos)
        return {};
    const auto document = parsePackXml(text.substr(open, close + kClose.size() - open), source, "warnings");
    std::vector<std::string> warnings;
    forEachChild(document->documentElement(), "warning",
                 [&](const Element* warning) { warnings.push_back(warning->getAttribute("text")); });
    return warnings;
}

} // namespace hil::packs
