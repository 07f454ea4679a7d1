// SPDX-License-Identifier: Apache-2.0
// Random command names and argument lists against every command server: every command must
// produce exactly one reply, and nothing may crash. Tools and devices are test fakes; memories,
// registers and messages are those of a simulated DEMO8 ("fz.DEMO8.data", "fz.DEMO8.SP",
// "fz.DEMO8.messages"), so that transfers reach real buffers.
//
// Input: fields separated by NUL bytes. The first byte of the first field picks the server (its
// value modulo 6: 0 Tool, 1 Device, 2 Memory, 3 Registers, 4 Message, 5 Stimuli; the seeds use
// the digits '0' to '5'); the second field is the command name; the rest are the argument texts.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bundles/simulator/SimulatedDevice.h"
#include "core/device/DeviceCommandServer.h"
#include "core/device/DeviceService.h"
#include "core/memory/MemoryCommandServer.h"
#include "core/memory/MemoryService.h"
#include "core/memory/RegistersCommandServer.h"
#include "core/memory/RegistersService.h"
#include "core/stimuli/MessageCommandServer.h"
#include "core/stimuli/MessageService.h"
#include "core/stimuli/StimuliCommandServer.h"
#include "core/stimuli/StimuliService.h"
#include "core/tools/ToolCommandServer.h"
#include "core/tools/ToolService.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/FakeDevices.h"
#include "tests/fakes/FakeTools.h"
#include "tests/fakes/RecordingChannel.h"

namespace {

using testing::NiceMock;

struct Servers {
    Servers()
    {
        manager->preferences["application.dir"] = HIL_DEVICES_DIR;
        factory->create = [this](const std::string&, const auto&) { return tool; };
        factory->accepts = [](const auto&) { return true; };
        connections->setAttached({std::make_shared<hil::fakes::FakeConnection>("conn.usb", boost::json::object{{"SerialNumber", "S1"}})});
        manager->add(factory);
        manager->add(connections);
        debugger.factoryManager = manager;
        toolService = std::make_shared<hil::ToolService>(debugger);
        deviceService = std::make_shared<hil::DeviceService>(debugger);
        debugger.addService(deviceService);
        toolServer = std::make_shared<hil::ToolCommandServer>(debugger, toolService);
        deviceServer = std::make_shared<hil::DeviceCommandServer>(debugger, deviceService);
        memoryServer = std::make_shared<hil::MemoryCommandServer>(debugger, memoryService);
        registersServer = std::make_shared<hil::RegistersCommandServer>(debugger, registersService);
        messageServer = std::make_shared<hil::MessageCommandServer>(debugger, messageService);
        stimuliServer = std::make_shared<hil::StimuliCommandServer>(debugger, stimuliService);
        hil::Status status;
        target = hil::simulator::SimulatedDevice::create("fz", deviceService->getDeviceInfo(status, "DEMO8"));
        debugger.parents.addParent(target->getId(), target);
        hil::ContextList memories(target->memories().begin(), target->memories().end());
        memoryService->addContexts(memories);
        hil::ContextList registers(target->registers().begin(), target->registers().end());
        registersService->addContexts(registers);
        messageService->addContext(target->messages());
    }

    hil::fakes::FakeDebugger debugger;
    std::shared_ptr<hil::fakes::FakeFactoryManager> manager = std::make_shared<hil::fakes::FakeFactoryManager>();
    std::shared_ptr<hil::fakes::FakeToolFactory> factory = std::make_shared<hil::fakes::FakeToolFactory>("tool.sim", "simulator");
    std::shared_ptr<hil::fakes::FakeConnectionFactory> connections = std::make_shared<hil::fakes::FakeConnectionFactory>("conn.usb");
    std::shared_ptr<NiceMock<hil::fakes::FakeToolContext>> tool = std::make_shared<NiceMock<hil::fakes::FakeToolContext>>("tool-1");
    std::shared_ptr<NiceMock<hil::fakes::FakeDeviceContext>> device =
        std::make_shared<NiceMock<hil::fakes::FakeDeviceContext>>("dev-1");
    std::shared_ptr<hil::ToolService> toolService;
    std::shared_ptr<hil::DeviceService> deviceService;
    std::shared_ptr<hil::ToolCommandServer> toolServer;
    std::shared_ptr<hil::DeviceCommandServer> deviceServer;
    std::shared_ptr<hil::MemoryService> memoryService = std::make_shared<hil::MemoryService>(debugger);
    std::shared_ptr<hil::RegistersService> registersService = std::make_shared<hil::RegistersService>(debugger);
    std::shared_ptr<hil::MemoryCommandServer> memoryServer;
    std::shared_ptr<hil::RegistersCommandServer> registersServer;
    std::shared_ptr<hil::MessageService> messageService = std::make_shared<hil::MessageService>(debugger);
    std::shared_ptr<hil::StimuliService> stimuliService = std::make_shared<hil::StimuliService>(debugger);
    std::shared_ptr<hil::MessageCommandServer> messageServer;
    std::shared_ptr<hil::StimuliCommandServer> stimuliServer;
    std::shared_ptr<hil::simulator::SimulatedDevice> target;
};

Servers& servers()
{
    static Servers* instance = new Servers; // lives for the whole run, like the back-end's
    return *instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(data[i]);
    }
    if (fields.size() < 2 || fields[0].empty())
        return 0;
    auto& all = servers();
    // The contexts a command may address, back after any command that removed them. Only then:
    // every announcement subscribes the servers to the context's signals once more.
    if (!all.toolService->getContextFromId("tool-1"))
        all.toolService->addContext(all.tool);
    if (!all.deviceService->getContextFromId("dev-1"))
        all.deviceService->addContext(all.device);
    hil::ICommandServer* const byChoice[] = {all.toolServer.get(),      all.deviceServer.get(),  all.memoryServer.get(),
                                             all.registersServer.get(), all.messageServer.get(), all.stimuliServer.get()};
    hil::ICommandServer& server = *byChoice[static_cast<unsigned char>(fields[0][0]) % 6];
    const std::vector<std::string> arguments(fields.begin() + 2, fields.end());
    hil::fakes::RecordingChannel channel;
    server.handleCommand(channel, hil::tcf::Token("1"), fields[1], arguments);
    if (channel.replies.size() != 1)
        std::abort();
    all.toolService->startPollingForTools(false);
    return 0;
}
