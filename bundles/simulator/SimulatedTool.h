// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "bundles/common/DriverTool.h"
#include "bundles/simulator/SimulatedDevice.h"
#include "core/interfaces/IConnection.h"
#include "core/interfaces/IOrixDebugger.h"

namespace hil::simulator {

/// A probe without hardware: the plain simulator, or a virtual probe over a virtual connection.
///
/// Properties: "ID", "Name", "ToolType", "ConnectionType", the connection's properties (such as
/// "SerialNumber"), "State" ("Idle" until `connect`, then "Ready"), "DeviceName" (the device to
/// simulate, default "DEMO8"), "TargetVoltage" (volts, default 3.3), "FirmwareVersion"; plus
/// whatever `setToolProperties` adds.
///
/// `connect` builds the device named by "DeviceName" from its description (through the Device
/// service) and registers it with the Device service; `disconnect` unregisters it.
///
/// Raw commands ("cmd"), by their first byte: 0x01 echo (the rest comes back), 0x02 version (the
/// ASCII text "SIM1.1" or "SIM1.0"), 0x03 target voltage (millivolts, two bytes, big-endian).
/// Text commands: "version", "echo TEXT", "state", "help".
/// Special operations: "loseConnection" {"Reason": text} drops the probe connection, as a pulled
/// cable would; "setVoltage" {"Volts": number} changes the target voltage; "stimulate"
/// {"Provider": type (default the simulator's), "Configuration": {...}} sets up a stimuli
/// provider through the Stimuli service and connects it to the device ports of its designators
/// (all or nothing); "release" disconnects and removes every provider the tool set up, as
/// dropping the device does.
class SimulatedTool : public bundles::DriverTool {
public:
    static constexpr const char* kLatestFirmware = "1.1";

    SimulatedTool(IOrixDebugger& debugger, std::string id, std::string name, std::string toolType,
                  std::shared_ptr<IConnection> connection);
    ~SimulatedTool() override;


    double getTargetVoltage() override;
    std::vector<boost::json::object> detectDevices(Status& status) override;
    void startUpgrade(bool force, tcf::IIntermediateResult& progress, Status& status) override;
    void checkFirmware(Status& status) override;
    void setBootMode(Status& status) override;
    void genericCommand(Status& status, std::vector<std::uint8_t>& response, const std::vector<std::uint8_t>& request,
                        int timeoutMs) override;
    bool genericStringCommand(Status& status, std::string& response, const std::string& command) override;
    boost::json::object selfTest(Status& status) override;
    bool calibrate(Status& status) override;
    void specialOperation(Status& status, const std::string& operation, const boost::json::object& parameters) override;

protected:
    void attachTarget(std::shared_ptr<DIDevice> description, const std::string& deviceName) override;
    /// Unregisters the simulated device, when there is one, and releases its stimuli.
    void dropTarget(bool detach) override;

private:
    std::shared_ptr<SimulatedDevice> device() const;
    void stimulate(Status& status, const boost::json::object& parameters);
    void releaseStimuli();

    std::shared_ptr<IConnection> connection_;
    std::shared_ptr<SimulatedDevice> device_;
    std::vector<std::shared_ptr<IStimuliProvider>> providers_;
};

} // namespace hil::simulator
