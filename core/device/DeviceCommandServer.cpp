// SPDX-License-Identifier: Apache-2.0
#include "core/device/DeviceCommandServer.h"

#include <stdexcept>

#include <boost/json.hpp>

#include "core/frame/ErrorDescr.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/Base64.h"
#include "platform/common/CoreException.h"
#include "platform/common/JsonText.h"
#include "platform/tcf/Protocol.h"

namespace hil {

namespace {

/// The text between the quotes, escapes and all: kept for compatibility (docs/protocol.md).
std::string nameArgument(const CommandArguments& arguments, std::size_t index)
{
    const std::string& text = arguments.rawText(index);
    return text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
}

/// The object a lookup found; the "required object missing" error naming it otherwise.
template <class T>
std::shared_ptr<T> requireObject(std::shared_ptr<T> found, const std::string& missingText)
{
    if (!found)
        CoreException::createAndThrow("", ErrorCode::RequiredObjectMissing, missingText);
    return found;
}


template <class T>
boost::json::array namesOf(const DIList<T>& list)
{
    boost::json::array names;
    for (const auto& element : list)
        names.emplace_back(element->getName());
    return names;
}

std::string moduleMissing(const std::string& module, const std::string& device)
{
    return "Could not get Module " + module + " for " + device;
}

} // namespace

DeviceCommandServer::DeviceCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    addCommand("getSupportedDevices", &DeviceCommandServer::handleGetSupportedDevices);
    addCommand("GetConfigurationFile", &DeviceCommandServer::handleNotImplemented);
    addCommand("startSession", &DeviceCommandServer::handleStartSession);
    addCommand("endSession", &DeviceCommandServer::handleEndSession);
    addCommand("erase", &DeviceCommandServer::handleErase);
    addCommand("disableFeature", &DeviceCommandServer::handleSpecialOperation);
    addCommand("specialOperation", &DeviceCommandServer::handleSpecialOperation);
    addCommand("getProperty", [this](const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results) {
        replySelected(arguments, &IDeviceContext::getProperty, results);
    });
    addCommand("getInfo", [this](const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results) {
        replySelected(arguments, &IDeviceContext::getInfo, results);
    });
    addCommand("getDeviceInfo", &DeviceCommandServer::handleGetDeviceInfo);
    addCommand("getAddresspaceInfo", &DeviceCommandServer::handleGetAddressSpaceInfo);
    addCommand("getModule", &DeviceCommandServer::handleGetModule);
    addCommand("getModuleInstance", &DeviceCommandServer::handleGetModuleInstance);
    // The same reply for a group of a module definition and of a module instance.
    addCommand("getRegisterGroup", [this](const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results) {
        replyRegisterGroup(arguments, &DIDevice::getModuleDefinition, results);
    });
    addCommand("getRegisterGroupInstance",
               [this](const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results) {
                   replyRegisterGroup(arguments, &DIDevice::getModule, results);
               });
    // Kept for compatibility (docs/protocol.md).
    addCommand("getRegisterGroupParameters", [](const CommandArguments&, tcf::IIntermediateResult&, Results&) {});
    addCommand("getPropertyGroup", &DeviceCommandServer::handleGetPropertyGroup);
    addCommand("getAvailableApplets", &DeviceCommandServer::handleGetAvailableApplets);
    registerServiceSignalHandlers();
}

std::shared_ptr<IDeviceContext> DeviceCommandServer::getTargetContext(const CommandArguments& arguments,
                                                                      std::size_t index) const
{
    const std::string id = arguments.string(index);
    auto context = std::dynamic_pointer_cast<IDeviceContext>(registry()->getContextFromId(id));
    if (!context)
        throw ErrorDescr(ErrorDescrCode::InvalidArguments, serviceName(), "'" + id + "' is not a device context.");
    return context;
}

template <class Part>
std::shared_ptr<Part> DeviceCommandServer::requirePart(const CommandArguments& arguments,
                                                      std::shared_ptr<Part> (DIDevice::*lookup)(const std::string&) const,
                                                      const std::string& what) const
{
    arguments.requireCount(2);
    const std::string deviceName = nameArgument(arguments, 0);
    const std::string name = nameArgument(arguments, 1);
    return requireObject(((*requireDevice(deviceName)).*lookup)(name),
                         "Could not get " + what + " " + name + " for " + deviceName);
}

std::shared_ptr<DIDevice> DeviceCommandServer::requireDevice(const std::string& deviceName) const
{
    Status status;
    return requireObject(service()->getDeviceInfo(status, deviceName), "Could not get deviceInfo for " + deviceName);
}

void DeviceCommandServer::registerContextSignalHandlers(const ContextPtr& context)
{
    const auto device = std::dynamic_pointer_cast<IDeviceContext>(context);
    if (!device)
        return;
    const std::string id = device->getId();
    using boost::signals2::at_back;
    device->connectExternalResetSlot(
        at_back, tracked(IDeviceContext::FlagSignal::slot_type([this, id](bool on) { onExternalReset(id, on); })));
    device->connectPowerStateSlot(
        at_back, tracked(IDeviceContext::FlagSignal::slot_type([this, id](bool on) { onPowerStateChange(id, on); })));
    device->connectTargetEventSlot(at_back, tracked(IDeviceContext::TargetEventSignal::slot_type(
                                                [this, id](const std::vector<std::uint8_t>& event) { onTargetEvent(id, event); })));
}

void DeviceCommandServer::onExternalReset(const std::string& contextId, bool on) const
{
    tcf::Protocol::sendEvent(serviceName(), "externalReset", {jsonText(boost::json::value(contextId)), on ? "true" : "false"});
}

void DeviceCommandServer::onPowerStateChange(const std::string& contextId, bool on) const
{
    tcf::Protocol::sendEvent(serviceName(), "powerStateChanged",
                             {jsonText(boost::json::value(contextId)), on ? "true" : "false"});
}

void DeviceCommandServer::onTargetEvent(const std::string& contextId, const std::vector<std::uint8_t>& event) const
{
    tcf::Protocol::sendEvent(serviceName(), "targetEvent",
                             {jsonText(boost::json::value(contextId)), jsonText(boost::json::value(base64_encode(event)))});
}

void DeviceCommandServer::handleGetSupportedDevices(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                                    Results& results)
{
    arguments.requireCount(0);
    boost::json::array names;
    for (const auto& name : service()->getSupportedDevices())
        names.emplace_back(name);
    results.push_back(emptyError());
    results.push_back(jsonText(names));
}

void DeviceCommandServer::handleNotImplemented(const CommandArguments&, tcf::IIntermediateResult&, Results&)
{
    throw ErrorDescr(ErrorDescrCode::InvalidArguments, serviceName(), "This function is not implemented");
}

void DeviceCommandServer::handleStartSession(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                             Results& results)
{
    arguments.requireCount(2);
    const auto context = getTargetContext(arguments, 0);
    const std::string type = nameArgument(arguments, 1);
    int kind = 0;
    if (type == "DebuggingSession")
        kind = IDeviceContext::kDebuggingSession;
    else if (type == "ProgrammingSession")
        kind = IDeviceContext::kProgrammingSession;
    else
        throw ErrorDescr(ErrorDescrCode::InvalidArguments, serviceName(), "'" + type + "' is not a valid session type.");
    Status status;
    const auto info = context->startSession(status, kind, true, nullptr);
    const SessionStartInfo started = info ? *info : SessionStartInfo{};
    boost::json::object reply;
    if (started.signature != 0)
        reply["signature"] = started.signature;
    if (started.jtagId != 0)
        reply["jtagId"] = started.jtagId;
    if (started.revision != 0xFF)
        reply["revision"] = started.revision;
    results.push_back(status.toJson());
    results.push_back(jsonText(reply));
}

void DeviceCommandServer::handleEndSession(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(1);
    if (getTargetContext(arguments, 0)->endSession()) {
        results.push_back(emptyError());
        return;
    }
    Status failed;
    failed.setError(ErrorCode::ReadFailure, "Unable to end session.");
    results.push_back(failed.toJson());
}

void DeviceCommandServer::handleErase(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    constexpr int kChipErase = 0;
    constexpr int kEraseWithFlagA = 11;
    constexpr int kEraseWithoutFlagA = 12;
    switch (arguments.count()) {
    case 0:
        return;
    case 1:
        getTargetContext(arguments, 0)->erase(kChipErase, true, 0, 0);
        break;
    case 2: {
        const auto context = getTargetContext(arguments, 0);
        const auto options = arguments.object(1);
        int type = kChipErase;
        for (const auto& [name, value] : options) {
            if (name == "EraseKey") {
                if (!value.is_string())
                    throwArgumentError();
                context->setProperties(options);
            } else if (name == "Type") {
                if (!value.is_int64())
                    throwArgumentError();
                type = static_cast<int>(value.get_int64());
            }
        }
        context->erase(type, true, 0, 0);
        break;
    }
    case 6: {
        const auto context = getTargetContext(arguments, 0);
        const auto options = arguments.object(1);
        const bool flagA = arguments.boolean(2);
        const bool flagB = arguments.boolean(3);
        const auto address = arguments.int64(4);
        const int count = arguments.int32(5);
        int type = kChipErase;
        if (!options.empty() && options.begin()->key() == "Type" && options.begin()->value().is_int64()) {
            type = static_cast<int>(options.begin()->value().get_int64());
        } else {
            // Kept for compatibility (docs/protocol.md).
            ErrorDescr error(ErrorDescrCode::Other, "Erase", "Error in parameters");
            results.push_back(error.toJson());
        }
        if (type == kChipErase)
            type = flagA ? kEraseWithFlagA : kEraseWithoutFlagA;
        context->erase(type, flagB, static_cast<std::uint64_t>(address), count);
        break;
    }
    default:
        // Three to five arguments, or more than six, have no meaning.
        throwArgumentError();
    }
    results.push_back(emptyError());
}

void DeviceCommandServer::handleSpecialOperation(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                                 Results& results)
{
    arguments.requireCount(2);
    const auto context = getTargetContext(arguments, 0);
    const int operation = arguments.int32(1);
    Status unreported;
    context->runSpecialOperation(unreported, operation);
    results.push_back(emptyError());
}

void DeviceCommandServer::replySelected(const CommandArguments& arguments, SelectorQuery query, Results& results) const
{
    arguments.requireCount(2);
    const auto context = getTargetContext(arguments, 0);
    boost::json::value answer;
    ((*context).*query)(answer, arguments.int32(1));
    results.push_back(emptyError());
    results.push_back(jsonText(answer));
}

void DeviceCommandServer::handleGetDeviceInfo(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                              Results& results)
{
    arguments.requireCount(1);
    const auto device = requireDevice(nameArgument(arguments, 0));
    boost::json::array spaces;
    for (const auto& space : device->getAddressSpaces())
        spaces.emplace_back(space->getId());
    results.push_back(emptyError());
    results.push_back(jsonText(boost::json::object{{"name", device->getName()},
                                                   {"architecture", device->getArchitecture()},
                                                   {"series", device->getSeries()},
                                                   {"addresspaces", spaces}}));
}

void DeviceCommandServer::handleGetAddressSpaceInfo(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                                    Results& results)
{
    const auto space = requirePart(arguments, &DIDevice::getAddressSpace, "address space");
    boost::json::array segments;
    for (const auto& segment : space->getMemorySegments())
        segments.push_back(boost::json::object{{"name", segment->getName()},
                                               {"start", segment->getStart()},
                                               {"size", segment->getSize()},
                                               {"pagesize", segment->getPageSize()}});
    results.push_back(emptyError());
    results.push_back(jsonText(boost::json::object{{"name", space->getId()},
                                                   {"start", space->getStart()},
                                                   {"size", space->getSize()},
                                                   {"endianness", space->isBigEndian() ? "big" : "little"},
                                                   {"segments", segments}}));
}

void DeviceCommandServer::handleGetModule(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    const auto module = requirePart(arguments, &DIDevice::getModuleDefinition, "Module");
    results.push_back(emptyError());
    results.push_back(jsonText(boost::json::object{{"name", module->getName()},
                                                   {"registerGroups", namesOf(module->getRegisterGroups())},
                                                   {"propertyGroups", namesOf(module->getPropertyGroups())}}));
}

void DeviceCommandServer::handleGetModuleInstance(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                                  Results& results)
{
    const auto module = requirePart(arguments, &DIDevice::getModule, "Module");
    boost::json::array groups;
    for (const auto& group : module->getRegisterGroups())
        groups.push_back(boost::json::object{{"name", group->getName()},
                                             {"name-in-module", group->getRegisterGroupDefinitionName()},
                                             {"address-space", group->getAddressSpace()},
                                             {"offset", group->getOffset()}});
    const auto propertyGroups = module->getPropertyGroups();
    if (propertyGroups.size() > 1)
        CoreException::createAndThrow("", ErrorCode::NotFound, "A module instance never has more than one property group.");
    boost::json::array parameters;
    if (!propertyGroups.empty())
        for (const auto& property : propertyGroups.front()->getProperties())
            parameters.push_back(boost::json::object{{property->getName(), property->getValue()}});
    results.push_back(emptyError());
    results.push_back(
        jsonText(boost::json::object{{"name", module->getName()}, {"registerGroups", groups}, {"parameters", parameters}}));
}

boost::json::object DeviceCommandServer::registerGroupToJson(const DIRegisterGroup& group)
{
    boost::json::object object{{"name", group.getName()}, {"size", group.getSize()}};
    try {
        object["offset"] = group.getOffset();
        object["address"] = group.getAddress();
        object["address-space"] = group.getAddressSpace();
    } catch (const CoreException& placeless) {
        // A definition has no place; its object goes on without one.
        BackendLogger::debug("dbg", placeless.what());
    }
    boost::json::array registers;
    for (const auto& reg : group.getRegisters()) {
        boost::json::array bitfields;
        for (const auto& bitfield : reg->getBitfields())
            bitfields.push_back(boost::json::object{{"name", bitfield->getName()}, {"mask", bitfield->getMask()}});
        registers.push_back(boost::json::object{
            {"name", reg->getName()}, {"offset", reg->getOffset()}, {"size", reg->getSize()}, {"bitfields", bitfields}});
    }
    object["registers"] = std::move(registers);
    return object;
}

void DeviceCommandServer::replyRegisterGroup(const CommandArguments& arguments, ModuleLookup lookup, Results& results) const
{
    arguments.requireCount(3);
    const std::string deviceName = nameArgument(arguments, 0);
    const std::string moduleName = nameArgument(arguments, 1);
    const std::string groupName = nameArgument(arguments, 2);
    const auto device = requireDevice(deviceName);
    const auto module = requireObject(((*device).*lookup)(moduleName), moduleMissing(moduleName, deviceName));
    const auto group = requireObject(module->getRegisterGroup(groupName),
                                     "Could not get register group " + groupName + " for " + deviceName);
    results.push_back(emptyError());
    results.push_back(jsonText(registerGroupToJson(*group)));
}

void DeviceCommandServer::handleGetPropertyGroup(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                                 Results& results)
{
    const auto group = requirePart(arguments, &DIDevice::getPropertyGroup, "property group");
    boost::json::array properties;
    for (const auto& property : group->getProperties())
        properties.push_back(boost::json::object{{"name", property->getName()}, {"value", property->getValue()}});
    results.push_back(emptyError());
    results.push_back(jsonText(boost::json::object{{"name", group->getName()}, {"properties", properties}}));
}

void DeviceCommandServer::handleGetAvailableApplets(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                                    Results& results)
{
    arguments.requireCount(1);
    boost::json::array kinds;
    for (const auto& [kind, applets] : service()->getDeviceApplets(nameArgument(arguments, 0))) {
        boost::json::array list;
        for (const auto& applet : applets) {
            boost::json::object entry;
            for (const auto& [key, value] : applet)
                entry[key] = value;
            list.push_back(std::move(entry));
        }
        kinds.push_back(boost::json::object{{"type", kind}, {"applets", list}});
    }
    results.push_back(emptyError());
    results.push_back(jsonText(kinds));
}

} // namespace hil
