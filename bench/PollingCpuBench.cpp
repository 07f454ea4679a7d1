// SPDX-License-Identifier: Apache-2.0
// CPU time the back-end spends while polling for tools and nothing changes.
//
// For 1, 64 and 256 virtual probes plugged in, starts the real back-end with the simulator, lets
// it idle for a while with polling off, then with polling on, and prints the CPU time (user +
// system) of the back-end process in each phase as a share of one core.
//
// Usage: polling_cpu_bench [SECONDS-PER-PHASE] (default 60)

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "tests/e2e/EventLog.h"
#include "tests/fakes/TempDirectory.h"

namespace {

/// User plus system CPU seconds of process `pid` so far.
double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            user = std::stoull(field);
        if (index == 15) {
            system = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

/// The share of one core that `pid` used over `seconds`.
double measure(pid_t pid, int seconds)
{
    const double before = cpuSeconds(pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return (cpuSeconds(pid) - before) / elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::stoi(argv[1]) : 60;
    bool met = true;
    std::printf("| probes | polling off | polling on | announcements | goal |\n|---|---|---|---|---|\n");
    for (const int probes : {1, 64, 256}) {
        hil::fakes::TempDirectory directory;
        for (int i = 0; i < probes; ++i)
            directory.write("probes/p" + std::to_string(i) + ".probe",
                            R"({"SerialNumber":"VP-)" + std::to_string(i) + R"(","PortName":"vport)" + std::to_string(i) + "\"}");
        hil::e2e::BackendProcess backend(hil::e2e::BackendProcess::withProbeDirectory(directory.path()));
        auto client = hil::e2e::connect(backend);
        hil::e2e::EventLog events;
        events.attach(*client);
        // Let start-up work settle before measuring.
        std::this_thread::sleep_for(std::chrono::seconds(2));

        const double idle = measure(backend.pid(), seconds);
        client->call("Tool", "pollForTools", {"true"});
        const double polling = measure(backend.pid(), seconds);
        std::printf("| %d | %.3f %% | %.3f %% | %zu | < 1 %% |\n", probes, idle * 100, polling * 100, events.count());
        std::fflush(stdout);
        met = met && polling < 0.01;
    }
    return met ? 0 : 1;
}
