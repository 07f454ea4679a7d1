// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frame/CommandServerFor.h"
#include "core/interfaces/IDeviceContext.h"
#include "core/interfaces/IDeviceService.h"

namespace hil {

/// The TCF face of the Device service: device descriptions by device name, sessions, erasing and
/// other operations on device contexts, and the target events "externalReset",
/// "powerStateChanged" and "targetEvent". It announces added and removed device contexts.
class DeviceCommandServer : public CommandServerFor<IDeviceService> {
public:
    /// `service` must be an `IDeviceService`; throws `std::invalid_argument` otherwise.
    DeviceCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);

    static std::string getServiceName() { return "Device"; }

    void onExternalReset(const std::string& contextId, bool on) const;
    void onPowerStateChange(const std::string& contextId, bool on) const;
    void onTargetEvent(const std::string& contextId, const std::vector<std::uint8_t>& event) const;

    /// The reply object of a register group: "name", "size", "offset", "address",
    /// "address-space", "registers"; a definition, which has no place, leaves out the three in
    /// the middle.
    static boost::json::object registerGroupToJson(const DIRegisterGroup& group);

protected:
    void registerContextSignalHandlers(const ContextPtr& context) override;

private:
    std::shared_ptr<IDeviceContext> getTargetContext(const CommandArguments& arguments, std::size_t index) const;
    std::shared_ptr<DIDevice> requireDevice(const std::string& deviceName) const;
    /// (device, name): the part of the device `lookup` finds by name; "Could not get WHAT NAME for
    /// DEVICE" when there is none.
    template <class Part>
    std::shared_ptr<Part> requirePart(const CommandArguments& arguments,
                                      std::shared_ptr<Part> (DIDevice::*lookup)(const std::string&) const,
                                      const std::string& what) const;

    void handleGetSupportedDevices(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleNotImplemented(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleStartSession(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleEndSession(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleErase(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleSpecialOperation(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    /// "getProperty" and "getInfo": (device context id, selector) -> the context's answer.
    using SelectorQuery = void (IDeviceContext::*)(boost::json::value&, int);
    void replySelected(const CommandArguments& arguments, SelectorQuery query, Results& results) const;
    void handleGetDeviceInfo(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleGetAddressSpaceInfo(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleGetModule(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleGetModuleInstance(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    using ModuleLookup = std::shared_ptr<DIModule> (DIDevice::*)(const std::string&) const;
    /// (device, module, group): the group of the module `lookup` finds, as `registerGroupToJson`.
    void replyRegisterGroup(const CommandArguments& arguments, ModuleLookup lookup, Results& results) const;
    void handleGetPropertyGroup(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);
    void handleGetAvailableApplets(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);

};

} // namespace hil
