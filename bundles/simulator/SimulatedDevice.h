// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <mutex>
#include <thread>

#include "bundles/simulator/SimulatedMemory.h"
#include "bundles/common/DriverDevice.h"
#include "bundles/common/TargetMessages.h"
#include "bundles/simulator/SimulatedStimuli.h"
#include "bundles/simulator/SimulatedRegister.h"
#include "core/devicedescription/DeviceModel.h"
#include "core/interfaces/IDeviceContext.h"
#include "core/interfaces/IOrixDebugger.h"

namespace hil::simulator {

/// The target behind a simulated tool: a device of the sample pack, built from its description.
///
/// Its id is TOOL-ID + "." + DEVICE-NAME; it has no parent (the tool lives in another service)
/// and names its tool under "Tool". Properties: "ID", "Name", "Tool", "Session" ("None",
/// "DebuggingSession" or "ProgrammingSession"), "Signature" and "JtagId" (from the description's
/// "SIGNATURES" property group: "DEVICEID", or the bytes "SIGNATURE0".."SIGNATURE2"; "JTAGID"),
/// "MemoryIDs" (its memory contexts) and "RegistersID" (its own id: the parent its registers are
/// listed under).
///
/// It is the parent of one memory context per address space of its description (id DEVICE-ID +
/// "." + space id), and of a register context per CPU register of its architecture (id
/// DEVICE-ID + "." + register name), listed in that order. A "signatures" segment holds the
/// signature bytes, most significant first. Its message context (DEVICE-ID + ".messages")
/// reports sessions started and ended, erases and external resets; its stimuli port drives the
/// values of simulated stimuli channels into its memories.
///
/// Erase types: 0, 11 and 12 erase every flash segment, 1 every EEPROM segment, 2 the flash
/// pages from `address` on (`count` pages of the segment's page size). Erased memory reads 0xFF.
/// Info selectors (`getInfo`): 0 a summary {"Name", "Architecture", "Series", "Session"}; 1
/// {"FlashBlank": whether every flash byte is 0xFF}. Property selectors (`getProperty`): 0 the
/// signature, 1 the JTAG id, 2 the device parameter "FlashSize" as a number.
/// Special operations, reported from the device's own thread as a real target would: 1 an
/// external reset (externalReset true, then false), 2 power off, 3 power on (powerState), 4 a
/// target event with the bytes 01 02 03.
class SimulatedDevice : public bundles::DriverDevice,
                        public IMemoryRegistersParent,
                        public std::enable_shared_from_this<SimulatedDevice> {
public:
    /// The device with its memory and register contexts.
    static std::shared_ptr<SimulatedDevice> create(std::string toolId, std::shared_ptr<DIDevice> description);
    SimulatedDevice(std::string toolId, std::shared_ptr<DIDevice> description);
    ~SimulatedDevice() override;

    boost::json::object getProperties() const override;
    void setProperties(const boost::json::object& properties) override;

    std::shared_ptr<SessionStartInfo> startSession(Status& status, int kind, bool resetTarget,
                                                   std::shared_ptr<void> options) override;
    bool endSession() override;
    void erase(int eraseType, bool verify, std::uint64_t address, int count) override;
    void getInfo(boost::json::value& info, int selector) override;
    void runSpecialOperation(Status& status, int operation) override;
    void getProperty(boost::json::value& property, int selector) override;
    std::shared_ptr<IStimuliPort> getStimuliPort() override { return stimuliPort_; }

    std::vector<std::shared_ptr<IMemoryContext>> listMemoryContexts() const override;
    std::vector<std::shared_ptr<IRegistersContext>> listRegistersContexts() const override;
    const std::vector<std::shared_ptr<SimulatedMemory>>& memories() const { return memories_; }
    const std::vector<std::shared_ptr<SimulatedRegister>>& registers() const { return registers_; }
    const std::shared_ptr<bundles::TargetMessages>& messages() const { return messages_; }

    std::shared_ptr<DIDevice> description() const { return description_; }

private:
    std::uint32_t signatureProperty(const std::string& key) const;
    void buildContexts();
    /// Runs `report` on the device's reporting thread, after the previous report ended.
    void report(std::function<void()> report);

    const std::string toolId_;
    const std::shared_ptr<DIDevice> description_;
    const std::uint32_t signature_;
    const std::uint32_t jtagId_;
    mutable std::mutex mutex_;
    boost::json::object extraProperties_;
    std::string session_ = "None";
    // Built once by `create`, read-only after.
    std::vector<std::shared_ptr<SimulatedMemory>> memories_;
    std::vector<std::shared_ptr<SimulatedRegister>> registers_;
    std::shared_ptr<bundles::TargetMessages> messages_;
    std::shared_ptr<SimulatedStimuliPort> stimuliPort_;
    std::thread reporter_;
};

} // namespace hil::simulator
