// SPDX-License-Identifier: Apache-2.0
// docs/protocol.md lists, per service, the commands of its server's command table: no more, no
// fewer. A command added to a server without a line in the document fails here.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "bundles/debugging/DebugServices.h"
#include "bundles/gdbserver/GdbServerService.h"
#include "bundles/packs/PacksCommandServer.h"
#include "bundles/targets/TargetsCommandServer.h"
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

namespace hil {
namespace {

/// The commands of each "## SERVICE" section's "### Commands" table, sorted.
std::map<std::string, std::vector<std::string>> documentedCommands()
{
    std::ifstream document(std::string(HIL_SOURCE_DIR) + "/docs/protocol.md");
    std::map<std::string, std::vector<std::string>> commands;
    std::string service;
    bool inCommands = false;
    for (std::string line; std::getline(document, line);) {
        if (line.rfind("## ", 0) == 0) {
            service = line.substr(3);
            inCommands = false;
        } else if (line.rfind("### ", 0) == 0) {
            inCommands = line == "### Commands";
        } else if (inCommands && line.rfind("| `", 0) == 0) {
            // A row: "| `name` | arguments | reply |".
            const auto end = line.find("` |", 3);
            if (end != std::string::npos)
                commands[service].push_back(line.substr(3, end - 3));
        }
    }
    for (auto& [name, list] : commands)
        std::sort(list.begin(), list.end());
    return commands;
}

template <class Server, class Service>
std::vector<std::string> commandsOf(fakes::FakeDebugger& debugger)
{
    return Server(debugger, std::make_shared<Service>(debugger)).commandNames();
}

TEST(ProtocolDocument, ListsExactlyTheCommandsOfEveryServer)
{
    fakes::FakeDebugger debugger;
    const std::map<std::string, std::vector<std::string>> served{
        {"Tool", commandsOf<ToolCommandServer, ToolService>(debugger)},
        {"Device", commandsOf<DeviceCommandServer, DeviceService>(debugger)},
        {"Memory", commandsOf<MemoryCommandServer, MemoryService>(debugger)},
        {"Registers", commandsOf<RegistersCommandServer, RegistersService>(debugger)},
        {"Message", commandsOf<MessageCommandServer, MessageService>(debugger)},
        {"Stimuli", commandsOf<StimuliCommandServer, StimuliService>(debugger)},
        {"Packs", commandsOf<packs::PacksCommandServer, packs::PacksService>(debugger)},
        {"Targets", commandsOf<targets::TargetsCommandServer, targets::TargetsService>(debugger)},
        {"RunControl", commandsOf<debugging::RunControlServer, debugging::RunControlService>(debugger)},
        {"Breakpoints", commandsOf<debugging::BreakpointsServer, debugging::BreakpointsService>(debugger)},
        {"StackTrace", commandsOf<debugging::StackTraceServer, debugging::StackTraceService>(debugger)},
        {"GdbServer", commandsOf<gdbserver::GdbServerCommandServer, gdbserver::GdbServerService>(debugger)},
    };
    EXPECT_EQ(documentedCommands(), served);
}

} // namespace
} // namespace hil
