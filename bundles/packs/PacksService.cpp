// SPDX-License-Identifier: Apache-2.0
#include "bundles/packs/PacksService.h"

#include <algorithm>

#include <boost/algorithm/string.hpp>

#include "core/interfaces/IAdClassFactoryManager.h"
#include "core/interfaces/PackManagerEntry.h"
#include "packmanager/PackCatalog.h"
#include "packmanager/SvdReader.h"
#include "platform/common/Errors.h"

namespace hil::packs {

namespace json = boost::json;

PacksService::PacksService(IOrixDebugger& debugger) : ServiceBase(debugger, "Packs")
{
    const auto manager = debugger.getClassFactoryManager();
    const auto preference = [&](const std::string& key) { return manager ? manager->getPreference(key) : std::string(); };
    if (const auto entry = findPackManagerEntry(preference, "getPackService"))
        packs_.reset(reinterpret_cast<GetPackServiceFunction>(entry)());
    if (const auto entry = findPackManagerEntry(preference, "getPackCatalog"))
        catalog_ = reinterpret_cast<GetPackCatalogFunction>(entry)();
    if (const auto folders = splitFolderList(preference(kPackFoldersPreference), ','); catalog_ && !folders.empty())
        catalog_->setFolders(folders);
}

PacksService::PacksService(IOrixDebugger& debugger, std::shared_ptr<ISimplePackService> packs, IPackCatalog* catalog)
    : ServiceBase(debugger, "Packs"), packs_(std::move(packs)), catalog_(catalog)
{
}

void PacksService::requireManager() const
{
    if (!packs_ || !catalog_)
        throw NotFoundError("the back-end runs without its pack manager (vlpackmanagerlib)");
}

std::string PacksService::property(const std::string& name, const std::string& key) const
{
    return packs_->lookupDeviceProperty(name, key);
}

std::string PacksService::canonicalName(const std::string& name) const
{
    requireManager();
    for (const auto& known : packs_->getDevices())
        if (boost::algorithm::iequals(known, name))
            return known;
    throw NotFoundError("no pack knows a device " + name);
}

json::array PacksService::list(const std::string& filter) const
{
    requireManager();
    std::vector<json::object> devices;
    for (const auto& name : packs_->getDevices()) {
        json::object device{{"name", name},
                            {"vendor", property(name, "Vendor")},
                            {"family", property(name, "Family")},
                            {"core", property(name, "Core").empty() ? property(name, "Architecture") : property(name, "Core")},
                            {"source", property(name, "Source")}};
        const auto contains = [&](const char* key) {
            return boost::algorithm::icontains(std::string(device.at(key).get_string()), filter);
        };
        if (filter.empty() || contains("name") || contains("vendor") || contains("family"))
            devices.push_back(std::move(device));
    }
    std::sort(devices.begin(), devices.end(), [](const json::object& a, const json::object& b) {
        return boost::algorithm::ilexicographical_compare(std::string(a.at("name").get_string()),
                                                          std::string(b.at("name").get_string()));
    });
    return json::array(devices.begin(), devices.end());
}

json::object PacksService::show(const std::string& requested)
{
    const std::string name = canonicalName(requested);
    json::object summary{{"name", name}};
    for (const auto& [key, property] : std::initializer_list<std::pair<const char*, const char*>>{
             {"vendor", "Vendor"}, {"family", "Family"}, {"subFamily", "SubFamily"}, {"core", "Core"},
             {"architecture", "Architecture"}, {"fpu", "Fpu"}, {"mpu", "Mpu"}, {"endian", "Endian"},
             {"clock", "Clock"}, {"source", "Source"}, {"svd", "Svd"}})
        summary[key] = this->property(name, property);
    json::array memories;
    for (const auto& device : catalog_->devices(name))
        if (boost::algorithm::iequals(device.name, name))
            for (const auto& memory : device.pack.memories)
                memories.push_back(json::object{{"name", memory.name},     {"access", memory.access},
                                                {"start", memory.start},   {"size", memory.size},
                                                {"default", memory.isDefault}, {"startup", memory.startup}});
    summary["memories"] = std::move(memories);
    const std::string file = packs_->getDeviceFile(name);
    summary["file"] = file;
    summary["peripherals"] = view(name)->size();
    const auto warnings = DescriptionView::readWarnings(file);
    summary["warnings"] = json::array(warnings.begin(), warnings.end());
    return summary;
}

std::shared_ptr<const std::vector<ViewPeripheral>> PacksService::view(const std::string& name)
{
    const std::string file = packs_->getDeviceFile(name);
    if (file.empty()) {
        std::string reason;
        for (const auto& problem : catalog_->problems())
            if (boost::algorithm::icontains(problem.text, name))
                reason = ": " + problem.text;
        throw PackSourceError("device " + name + " has no description file" + reason);
    }
    std::lock_guard lock(viewMutex_);
    // One file read stays: a peripheral view asks for one peripheral after another.
    if (file != viewFile_ || !view_) {
        view_ = std::make_shared<const std::vector<ViewPeripheral>>(DescriptionView::read(file));
        viewFile_ = file;
    }
    return view_;
}

json::array PacksService::peripherals(const std::string& requested)
{
    const std::string name = canonicalName(requested);
    json::array list;
    for (const auto& peripheral : *view(name))
        list.push_back(json::object{{"name", peripheral.name},
                                    {"address", peripheral.address},
                                    {"size", peripheral.size},
                                    {"description", peripheral.description},
                                    {"module", peripheral.module},
                                    {"registers", peripheral.registers.size()}});
    return list;
}

json::object PacksService::registers(const std::string& requested, const std::string& peripheralName)
{
    const std::string name = canonicalName(requested);
    const auto held = view(name);
    const auto& peripherals = *held;
    const auto peripheral = std::find_if(peripherals.begin(), peripherals.end(), [&](const ViewPeripheral& p) {
        return boost::algorithm::iequals(p.name, peripheralName);
    });
    if (peripheral == peripherals.end())
        throw NotFoundError("device " + name + " has no peripheral " + peripheralName);
    json::array registers;
    for (const auto& reg : peripheral->registers) {
        json::array fields;
        for (const auto& field : reg.fields) {
            json::array values;
            for (const auto& value : field.values)
                values.push_back(json::object{{"name", value.name}, {"value", value.value}, {"description", value.description}});
            fields.push_back(json::object{{"name", field.name},
                                          {"mask", field.mask},
                                          {"rw", field.rw},
                                          {"description", field.description},
                                          {"values", std::move(values)}});
        }
        registers.push_back(json::object{{"name", reg.name},
                                         {"address", reg.address},
                                         {"size", reg.size},
                                         {"rw", reg.rw},
                                         {"description", reg.description},
                                         {"sideEffect", reg.readHasSideEffect},
                                         {"fields", std::move(fields)}});
    }
    return json::object{{"name", peripheral->name},
                        {"address", peripheral->address},
                        {"size", peripheral->size},
                        {"description", peripheral->description},
                        {"addressSpace", peripheral->addressSpace},
                        {"bigEndian", peripheral->bigEndian},
                        {"registers", std::move(registers)}};
}

json::array PacksService::problems() const
{
    requireManager();
    json::array list;
    for (const auto& problem : catalog_->problems())
        list.push_back(json::object{{"source", problem.source}, {"text", problem.text}});
    return list;
}

json::object PacksService::rescan()
{
    requireManager();
    catalog_->rescan();
    {
        std::lock_guard lock(viewMutex_);
        viewFile_.clear();
        view_.reset();
    }
    return json::object{{"devices", packs_->getDevices().size()}, {"problems", problems()}};
}

} // namespace hil::packs
