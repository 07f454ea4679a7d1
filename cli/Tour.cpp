// SPDX-License-Identifier: Apache-2.0
// The tour: what a newcomer does first, narrated step by step.

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "cli/CliCommands.h"

namespace hil::cli {

namespace {

/// The tour: what a newcomer does first, narrated by its comments.
const char* const kTour = R"(# The tool types the back-end can drive, and the tools plugged in now:
tools
attached
# The devices the pack manager knows (description files, SVD files and CMSIS-Packs):
devices
# Set up the simulator, simulating the 8-bit DEMO8, and connect it:
setup simulator
tool $tool set '{"DeviceName":"DEMO8"}'
tool $tool connect
# The device, from its description file:
device DEMO8
# A debugging session on the simulated device:
session start $tool.DEMO8 debug
# Five bytes into its RAM, read back:
mem write $tool.DEMO8.data 0x100 48656c6c6f
mem read $tool.DEMO8.data 0x100 16
# Its CPU registers:
reg set $tool.DEMO8.SP 0x08FF
regs $tool.DEMO8
# Done: end the session and let the tool go.
session end $tool.DEMO8
teardown $tool
# Everything above was also sent as events: run `hilcore-cli watch` in a second terminal to see them.
)";

/// The tour of a real Cortex-M3, where the back-end can start QEMU and the firmware is built.
const char* const kQemuTour = R"(# A real Cortex-M3: QEMU's mps2-an385 behind its GDB stub, running our test firmware:
setup gdbremote qemu '{"Kernel":"$firmware"}'
tool $tool connect
# Five bytes into its SRAM, read back, and its registers as the stub describes them:
mem write $tool.MPS2-AN385.base 0x20001000 48656c6c6f
mem read $tool.MPS2-AN385.base 0x20001000 16
regs $tool.MPS2-AN385
# Reset it and let it run: what it prints on UART0 arrives as Message events.
tool $tool special reset
tool $tool special resume
watch --for 1.5 Message
tool $tool special halt
# UART0 as a peripheral view shows it: each register read from the target, with its fields:
peripheral $tool.MPS2-AN385 UART0
teardown $tool
)";

/// The firmware the QEMU tour runs: HIL_FIRMWARE, else the one the build made; empty when
/// neither is there.
std::string tourFirmware()
{
    const char* chosen = std::getenv("HIL_FIRMWARE");
    const std::string path = chosen && *chosen ? chosen : HIL_DEFAULT_FIRMWARE;
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error) ? path : "";
}

int tourVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    requireArguments(arguments, 0, 0, "tour", "no arguments");
    std::istringstream tour(kTour);
    const int result = runShell(context, tour, ShellMode::Tour);
    if (result != ExitCode::Ok)
        return result;
    const auto connections = attachedConnectionTypes(context);
    const std::string firmware = tourFirmware();
    if (std::find(connections.begin(), connections.end(), "com.velmora.hil.connection.qemu") == connections.end() ||
        firmware.empty()) {
        context.out << "\n# A real Cortex-M3 on QEMU is the next step where the back-end has qemu-system-arm and\n"
                       "# the test firmware is built (set HIL_FIRMWARE to another image).\n";
        return ExitCode::Ok;
    }
    context.variables["firmware"] = firmware;
    std::istringstream qemuTour(kQemuTour);
    return runShell(context, qemuTour, ShellMode::Tour);
}

} // namespace

void addTourVerb(VerbTable& table)
{
    table.insert({"tour", {"", "a five-minute tour: sets up the simulator and runs the first verbs, printing each step; "
                               "stops at the first failure",
                           tourVerb}});
}

} // namespace hil::cli
