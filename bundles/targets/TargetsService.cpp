// SPDX-License-Identifier: Apache-2.0
#include "bundles/targets/TargetsService.h"

#include <cctype>
#include <chrono>
#include <fstream>
#include <iterator>

#include <boost/json.hpp>

#include "core/interfaces/IAdClassFactoryManager.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/CoreException.h"
#include "platform/common/Errors.h"
#include "platform/common/HomeFolder.h"
#include "platform/common/WholeFile.h"

namespace hil::targets {

namespace json = boost::json;

namespace {

const std::string kLog = "targets";

/// Letters, digits, '_' and '-', beginning with a letter: a name that cannot be taken for a
/// context id (they hold dots) or a number.
bool isTargetName(const std::string& name)
{
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0])))
        return false;
    for (const unsigned char c : name)
        if (!std::isalnum(c) && c != '_' && c != '-')
            return false;
    return true;
}

std::string textMember(const json::object& object, const char* key, bool required)
{
    const auto* value = object.if_contains(key);
    if (!value && !required)
        return "";
    if (!value || !value->is_string())
        throw UsageError(std::string("a target needs \"") + key + "\" as text");
    return std::string(value->get_string());
}

json::object objectMember(const json::object& object, const char* key)
{
    const auto* value = object.if_contains(key);
    if (!value)
        return {};
    if (!value->is_object())
        throw UsageError(std::string("a target's \"") + key + "\" is an object");
    return value->get_object();
}

/// Runs `work` on behalf of no client: what it registers belongs to no connection, so none takes
/// it along when it closes.
template <class Work>
void asNoClient(IOrixDebugger& debugger, const Work& work)
{
    auto& owner = debugger.getCurrentOwnerSlot();
    struct Restore {
        OwnerSlot& owner;
        const int before;
        ~Restore() { owner.set(before); }
    } restore{owner, owner.get().value_or(0)};
    owner.set(0);
    work();
}

} // namespace

json::object TargetDefinition::toJson() const
{
    return {{"Name", name},
            {"ToolType", toolType},
            {"ConnectionType", connectionType},
            {"ConnectionProperties", connectionProperties},
            {"ToolProperties", toolProperties}};
}

TargetDefinition TargetDefinition::fromJson(const json::object& object)
{
    TargetDefinition definition{textMember(object, "Name", true), textMember(object, "ToolType", true),
                    textMember(object, "ConnectionType", false), objectMember(object, "ConnectionProperties"),
                    objectMember(object, "ToolProperties")};
    if (!isTargetName(definition.name))
        throw UsageError("a target's name is letters, digits, '_' and '-', beginning with a letter, not '" + definition.name +
                         "'");
    return definition;
}

TargetsService::TargetsService(IOrixDebugger& debugger) : ServiceBase(debugger, "Targets")
{
    if (const auto manager = debugger.getClassFactoryManager())
        if (const auto file = manager->getPreference(kTargetsFilePreference); !file.empty())
            file_ = expandHome(file);
    restoreSaved();
}

TargetsService::~TargetsService()
{
    if (restorer_.joinable())
        restorer_.join();
    const auto service = tools();
    for (auto& [name, kept] : kept_)
        if (service && service->getContextFromId(kept.tool->getId()) == kept.tool)
            service->tearDownTool(kept.tool);
}

void TargetsService::restoreSaved()
{
    if (file_.empty() || !std::filesystem::exists(file_))
        return;
    restoring_ = true;
    // The services start one after the other: the saved targets are set up once those a target
    // registers with are there, on a thread of their own, so that a QEMU that takes a second to
    // start does not hold the back-end's start.
    restorer_ = std::thread([this] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!servicesReady() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard lock(mutex_);
        struct Done {
            TargetsService& service;
            ~Done()
            {
                service.restoring_ = false;
                service.restored_.notify_all();
            }
        } done{*this};
        json::value saved;
        try {
            std::ifstream in(file_);
            saved = json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
        } catch (const std::exception& error) {
            BackendLogger::error(kLog, "Targets: " + file_ + " is not a JSON list of targets: " + error.what());
            return;
        }
        if (!saved.is_array()) {
            BackendLogger::error(kLog, "Targets: " + file_ + " is not a JSON list of targets");
            return;
        }
        for (const auto& entry : saved.as_array()) {
            try {
                if (!entry.is_object())
                    throw UsageError("an entry that is not an object");
                addLocked(TargetDefinition::fromJson(entry.as_object()));
            } catch (const std::exception& error) {
                BackendLogger::error(kLog, "Targets: a saved target of " + file_ + " is not set up again: " + error.what());
            }
        }
    });
}

bool TargetsService::servicesReady() const
{
    for (const char* name : {"Tool", "Device", "Memory", "Registers"})
        if (!debugger_.getService(name))
            return false;
    return true;
}

std::shared_ptr<IToolService> TargetsService::tools() const
{
    return std::dynamic_pointer_cast<IToolService>(debugger_.getService("Tool"));
}

std::unique_lock<std::mutex> TargetsService::lockRestored() const
{
    std::unique_lock lock(mutex_);
    restored_.wait(lock, [this] { return !restoring_; });
    return lock;
}

json::object TargetsService::add(const TargetDefinition& definition)
{
    const auto lock = lockRestored();
    addLocked(definition);
    const auto& kept = kept_.at(definition.name);
    try {
        saveLocked();
    } catch (...) {
        // A target that would not come back after a restart is not kept at all.
        if (const auto service = tools())
            service->tearDownTool(kept.tool);
        kept_.erase(definition.name);
        throw;
    }
    return entryOf(kept);
}

void TargetsService::addLocked(const TargetDefinition& definition)
{
    if (kept_.count(definition.name))
        throw UsageError("a target is called " + definition.name + " already (remove it first)");
    const auto service = tools();
    if (!service)
        throw NotFoundError("the back-end runs without its Tool service");
    std::shared_ptr<IToolContext> tool;
    asNoClient(debugger_, [&] {
        Status status;
        tool = service->setupTool(status, definition.toolType, definition.connectionType, definition.connectionProperties);
        if (!status.isOk())
            throw CoreException(std::make_shared<Status>(status));
        if (!tool)
            throw NotFoundError("no " + definition.toolType + " tool takes " +
                                (definition.connectionType.empty() ? "no connection"
                                                                   : "a " + definition.connectionType + " connection"));
        try {
            if (!definition.toolProperties.empty())
                tool->setToolProperties(definition.toolProperties);
            tool->connect(status);
            if (!status.isOk())
                throw CoreException(std::make_shared<Status>(status));
        } catch (...) {
            service->tearDownTool(tool);
            throw;
        }
    });
    kept_.emplace(definition.name, Kept{definition, tool});
    BackendLogger::info(kLog, "Target " + definition.name + " kept as " + tool->getId());
}

void TargetsService::remove(const std::string& name)
{
    const auto lock = lockRestored();
    const auto found = kept_.find(name);
    if (found == kept_.end())
        throw NotFoundError("no target is called " + name);
    if (const auto service = tools(); service && service->getContextFromId(found->second.tool->getId()) == found->second.tool)
        service->tearDownTool(found->second.tool);
    kept_.erase(found);
    saveLocked();
}

json::array TargetsService::list() const
{
    const auto lock = lockRestored();
    json::array entries;
    for (const auto& [name, kept] : kept_)
        entries.push_back(entryOf(kept));
    return entries;
}

json::object TargetsService::entryOf(const Kept& kept) const
{
    auto entry = kept.definition.toJson();
    const auto& id = kept.tool->getId();
    entry["ToolID"] = id;
    const auto service = tools();
    const bool present = service && service->getContextFromId(id) == kept.tool;
    std::string state = "Gone";
    if (present) {
        const auto properties = kept.tool->getProperties();
        if (const auto* value = properties.if_contains("State"); value && value->is_string())
            state = value->get_string();
    }
    entry["State"] = state;
    // A tool's devices are roots of their own, named "TOOL.DEVICE".
    std::string deviceId;
    if (const auto devices = std::dynamic_pointer_cast<IServiceBase>(debugger_.getService("Device")); devices && present)
        for (const auto& device : devices->getChildren(nullptr))
            if (device->getId().rfind(id + ".", 0) == 0) {
                deviceId = device->getId();
                break;
            }
    entry["DeviceID"] = deviceId;
    return entry;
}

void TargetsService::saveLocked() const
{
    if (file_.empty())
        return;
    json::array saved;
    for (const auto& [name, kept] : kept_)
        saved.push_back(kept.definition.toJson());
    writeWholeFile(file_, json::serialize(saved) + "\n");
}

} // namespace hil::targets
