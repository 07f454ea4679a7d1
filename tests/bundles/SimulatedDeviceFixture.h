// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>

#include "bundles/simulator/SimulatedTool.h"
#include "bundles/simulator/SimulatorToolFactories.h"
#include "core/device/DeviceService.h"
#include "core/memory/MemoryService.h"
#include "core/memory/RegistersService.h"
#include "core/stimuli/MessageService.h"
#include "core/stimuli/StimuliService.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/FakeTools.h"

namespace hil::simulator {

/// A simulated tool with the real Device, Memory, Registers, Message and Stimuli services (the
/// simulator's stimuli provider factory plugged in) and the pack manager over the sample devices.
class SimulatedDeviceTest : public testing::Test {
protected:
    SimulatedDeviceTest()
    {
        manager->preferences["packmanager.dir"] = HIL_PACK_LIBRARY_DIR;
        debugger.factoryManager = manager;
        // Made here: the service loads the pack manager the preferences name.
        deviceService = std::make_shared<DeviceService>(debugger);
        debugger.addService(deviceService);
        debugger.addService(memoryService);
        debugger.addService(registersService);
        debugger.addService(messageService);
        debugger.addService(stimuliService);
        manager->add(std::make_shared<SimulatedStimuliProviderFactory>());
    }

    /// Connects the tool to `deviceName` and returns the device it registered. A device that did
    /// not connect fails the test by an exception, never by a null pointer for the test to follow.
    std::shared_ptr<SimulatedDevice> connectedDevice(const std::string& deviceName = "DEMO8")
    {
        tool.setToolProperties({{"DeviceName", deviceName}});
        Status connected;
        tool.connect(connected);
        const auto devices = deviceService->getChildren(nullptr);
        auto device = devices.empty() ? nullptr : std::dynamic_pointer_cast<SimulatedDevice>(devices.front());
        if (!connected.isOk() || !device)
            throw std::runtime_error("the simulated " + deviceName + " did not connect: " + connected.getMessage());
        return device;
    }

    fakes::FakeDebugger debugger;
    std::shared_ptr<fakes::FakeFactoryManager> manager = std::make_shared<fakes::FakeFactoryManager>();
    std::shared_ptr<DeviceService> deviceService;
    std::shared_ptr<MemoryService> memoryService = std::make_shared<MemoryService>(debugger);
    std::shared_ptr<RegistersService> registersService = std::make_shared<RegistersService>(debugger);
    std::shared_ptr<MessageService> messageService = std::make_shared<MessageService>(debugger);
    std::shared_ptr<StimuliService> stimuliService = std::make_shared<StimuliService>(debugger);
    SimulatedTool tool{debugger, "sim-1", "simulator", kSimulatorToolType, nullptr};
    Status status;
};

} // namespace hil::simulator
