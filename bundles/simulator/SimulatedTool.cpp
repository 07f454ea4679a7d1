// SPDX-License-Identifier: Apache-2.0
#include "bundles/simulator/SimulatedTool.h"

#include <chrono>
#include <cmath>

#include "bundles/common/TargetRegistration.h"
#include "core/interfaces/IStimuliService.h"
#include "core/interfaces/PropertyKeys.h"

namespace hil::simulator {

namespace {

namespace ToolKey = keys::ToolDescriptionKey;
const std::string kTargetVoltage = "TargetVoltage";
const std::string kFirmwareVersion = "FirmwareVersion";
constexpr double kDefaultVolts = 3.3;

enum RawCommand : std::uint8_t { Echo = 0x01, Version = 0x02, Voltage = 0x03 };

bundles::TargetContexts targetOf(SimulatedDevice& device)
{
    return bundles::targetContextsOf(device.shared_from_this(), {device.messages()});
}

} // namespace

SimulatedTool::SimulatedTool(IOrixDebugger& debugger, std::string id, std::string name, std::string toolType,
                             std::shared_ptr<IConnection> connection)
    : DriverTool(debugger, std::move(id), name, toolType, connection), connection_(std::move(connection))
{
    properties_[ToolKey::DeviceName] = "DEMO8";
    properties_[kTargetVoltage] = kDefaultVolts;
    properties_[kFirmwareVersion] = "1.0";
}

SimulatedTool::~SimulatedTool() { waitForLossReport(); }

std::shared_ptr<SimulatedDevice> SimulatedTool::device() const
{
    std::lock_guard lock(mutex_);
    return device_;
}

double SimulatedTool::getTargetVoltage()
{
    std::lock_guard lock(mutex_);
    const auto* volts = properties_.if_contains(kTargetVoltage);
    if (!volts)
        return std::nan("");
    boost::system::error_code error;
    const double value = volts->to_number<double>(error);
    return error ? std::nan("") : value;
}

void SimulatedTool::attachTarget(std::shared_ptr<DIDevice> description, const std::string&)
{
    auto device = SimulatedDevice::create(id_, std::move(description));
    {
        std::lock_guard lock(mutex_);
        device_ = device;
    }
    bundles::registerTarget(debugger_, targetOf(*device));
}

void SimulatedTool::dropTarget(bool)
{
    std::shared_ptr<SimulatedDevice> device;
    {
        std::lock_guard lock(mutex_);
        device.swap(device_);
    }
    if (!device)
        return;
    releaseStimuli();
    bundles::unregisterTarget(debugger_, targetOf(*device));
}

std::vector<boost::json::object> SimulatedTool::detectDevices(Status& status)
{
    std::vector<boost::json::object> devices;
    bundles::reportFailure(status, "", [&] {
        connected(device());
        devices.push_back({{"Name", text(ToolKey::DeviceName)}, {"Interface", "SWD"}});
    });
    return devices;
}

void SimulatedTool::startUpgrade(bool force, tcf::IIntermediateResult& progress, Status&)
{
    if (!force && text(kFirmwareVersion) == kLatestFirmware) {
        progress.sendIntermediateResult({R"({"Progress":100,"Phase":"up to date"})"});
        return;
    }
    for (int percent = 0; percent <= 100; percent += 20) {
        progress.sendIntermediateResult({R"({"Progress":)" + std::to_string(percent) + R"(,"Phase":"writing"})"});
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    std::lock_guard lock(mutex_);
    properties_[kFirmwareVersion] = kLatestFirmware;
}

void SimulatedTool::checkFirmware(Status& status)
{
    const std::string version = text(kFirmwareVersion);
    if (version != kLatestFirmware)
        status.setError(ErrorCode::NotFound, "Firmware %s is older than %s; run startUpgrade", version.c_str(),
                        kLatestFirmware);
}

void SimulatedTool::setBootMode(Status&) { setState(keys::ToolState::Busy); }

void SimulatedTool::genericCommand(Status& status, std::vector<std::uint8_t>& response,
                                   const std::vector<std::uint8_t>& request, int)
{
    response.clear();
    if (request.empty()) {
        status.setError(ErrorCode::InvalidArguments, "Empty raw command");
        return;
    }
    switch (request[0]) {
    case Echo: response.assign(request.begin() + 1, request.end()); return;
    case Version: {
        const std::string version = "SIM" + text(kFirmwareVersion);
        response.assign(version.begin(), version.end());
        return;
    }
    case Voltage: {
        const auto millivolts = static_cast<std::uint16_t>(std::lround(getTargetVoltage() * 1000));
        response = {static_cast<std::uint8_t>(millivolts >> 8), static_cast<std::uint8_t>(millivolts & 0xFF)};
        return;
    }
    default: status.setError(ErrorCode::InvalidArguments, "Unknown raw command 0x%02X", request[0]);
    }
}

bool SimulatedTool::genericStringCommand(Status& status, std::string& response, const std::string& command)
{
    if (command == "version")
        response = "hilcore simulator " + text(kFirmwareVersion);
    else if (command.rfind("echo ", 0) == 0)
        response = command.substr(5);
    else if (command == "state")
        response = text(ToolKey::State);
    else if (command == "help")
        response = "version, echo TEXT, state, help";
    else {
        status.setError(ErrorCode::InvalidArguments, "Unknown command: %s", command.c_str());
        return false;
    }
    return true;
}

boost::json::object SimulatedTool::selfTest(Status&)
{
    return {{"Result", "passed"}, {"Checks", {{"Clock", "ok"}, {"Memory", "ok"}, {"TargetPower", "ok"}}}};
}

bool SimulatedTool::calibrate(Status&) { return true; }

void SimulatedTool::stimulate(Status& status, const boost::json::object& parameters)
{
    const auto stimuli = std::dynamic_pointer_cast<IStimuliService>(debugger_.getService("Stimuli"));
    if (!stimuli) {
        status.setError(ErrorCode::RequiredObjectMissing, "No Stimuli service to set up a provider with");
        return;
    }
    const auto* type = parameters.if_contains("Provider");
    const auto* configuration = parameters.if_contains("Configuration");
    if ((type && !type->is_string()) || !configuration || !configuration->is_object()) {
        status.setError(ErrorCode::InvalidArguments,
                        "stimulate needs {\"Configuration\": {...}} and may name a \"Provider\" type");
        return;
    }
    const std::string providerType = type ? std::string(type->get_string()) : SimulatedStimuliProviderFactory::kClassName;
    const auto provider = stimuli->setupProvider(status, providerType, configuration->get_object());
    if (!status.isOk())
        return;
    if (!provider) {
        status.setError(ErrorCode::NotFound, "No %s provider could be made from that configuration", providerType.c_str());
        return;
    }
    if (!stimuli->connect(provider)) {
        stimuli->removeStimuliProvider(provider);
        status.setError(ErrorCode::NotFound, "No device port takes the channels of that provider: check the designators");
        return;
    }
    std::lock_guard lock(mutex_);
    providers_.push_back(provider);
}

void SimulatedTool::releaseStimuli()
{
    std::vector<std::shared_ptr<IStimuliProvider>> providers;
    {
        std::lock_guard lock(mutex_);
        providers.swap(providers_);
    }
    const auto stimuli = std::dynamic_pointer_cast<IStimuliService>(debugger_.getService("Stimuli"));
    for (const auto& provider : providers) {
        if (!stimuli)
            break;
        stimuli->disconnect(provider);
        stimuli->removeStimuliProvider(provider);
    }
}

void SimulatedTool::specialOperation(Status& status, const std::string& operation, const boost::json::object& parameters)
{
    if (operation == "loseConnection") {
        const auto* reason = parameters.if_contains("Reason");
        const std::string why = reason && reason->is_string() ? std::string(reason->get_string())
                                                              : "Connection to " + id_ + " lost";
        dropTarget(false);
        setState(keys::ToolState::Idle);
        // A real probe reports its loss from its own driver thread, not from the command.
        reportLoss({}, why);
    } else if (operation == "stimulate") {
        stimulate(status, parameters);
    } else if (operation == "release") {
        releaseStimuli();
    } else if (operation == "setVoltage") {
        const auto* volts = parameters.if_contains("Volts");
        if (!volts || !volts->is_number()) {
            status.setError(ErrorCode::InvalidArguments, "setVoltage needs a number \"Volts\"");
            return;
        }
        std::lock_guard lock(mutex_);
        properties_[kTargetVoltage] = *volts;
    } else {
        status.setError(ErrorCode::InvalidArguments, "Unknown special operation %s", operation.c_str());
    }
}

} // namespace hil::simulator
