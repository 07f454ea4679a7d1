// SPDX-License-Identifier: Apache-2.0
// 1 MiB read from and written to the SRAM of QEMU's mps2-an385, through the back-end over TCF
// and through gdb-multiarch ("dump binary memory", "restore") against a QEMU of the same
// machine, interleaved, five rounds each. Only the transfer is timed on both sides: the TCF
// command from request to reply, gdb's command between two "shell" time stamps.
//
// Usage: gdbremote_bench [ROUNDS] (default 5). Needs qemu-system-arm and gdb-multiarch.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include <boost/json.hpp>

#include "bench/GdbMultiarch.h"
#include "bench/Median.h"
#include "bench/SyncTcfClient.h"
#include "bundles/gdbremote/QemuProcess.h"
#include "platform/common/Base64.h"
#include "tests/e2e/BackendProcess.h"
#include "tests/fakes/TempDirectory.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kSram = 0x20000000;
constexpr std::size_t kBytes = 1u << 20;

/// Seconds one TCF memory command takes, from request to reply.
double timeBackend(hil::bench::SyncTcfClient& client, const std::string& command, const std::vector<std::string>& arguments)
{
    const auto start = Clock::now();
    const auto reply = client.call("Memory", command, arguments);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (command == "get" ? reply.at(1) != "" : reply.at(0) != "")
        throw std::runtime_error("the back-end's " + command + " failed: " + reply.at(0) + reply.at(1));
    return seconds;
}

using hil::bench::median;
using hil::bench::timeGdb;

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 5;
    if (hil::gdbremote::QemuProcess::executable().empty() || std::system("command -v gdb-multiarch >/dev/null") != 0) {
        std::cerr << "needs qemu-system-arm and gdb-multiarch\n";
        return 2;
    }
    hil::fakes::TempDirectory directory;
    hil::e2e::BackendProcess backend(hil::e2e::BackendProcess::withGdbRemote(directory.path()));
    hil::bench::SyncTcfClient client(backend.port());
    if (!client.connectQemuTool()) {
        std::cerr << "the back-end could not start its QEMU\n";
        return 1;
    }
    hil::gdbremote::QemuProcess gdbsQemu("mps2-an385", "", nullptr);

    std::vector<std::uint8_t> image(kBytes);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::string imageFile = (directory.path() / "image.bin").string();
    std::ofstream(imageFile, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    const std::string dumpFile = (directory.path() / "dump.bin").string();
    const std::string memory = R"("gdbremote-1.MPS2-AN385.base")";
    const std::string address = std::to_string(kSram);
    const std::string size = std::to_string(kBytes);
    const std::string data = "\"" + hil::base64_encode(image) + "\"";
    char range[64];
    std::snprintf(range, sizeof range, "0x%x 0x%x", kSram, static_cast<unsigned>(kSram + kBytes));

    std::vector<double> backendRead, gdbRead, backendWrite, gdbWrite;
    for (int round = 0; round < rounds; ++round) {
        backendWrite.push_back(timeBackend(client, "set", {memory, address, "1", size, "0", data}));
        gdbWrite.push_back(timeGdb(gdbsQemu.gdbPort(), "restore " + imageFile + " binary " + std::to_string(kSram)));
        backendRead.push_back(timeBackend(client, "get", {memory, address, "1", size, "0"}));
        gdbRead.push_back(timeGdb(gdbsQemu.gdbPort(), "dump binary memory " + dumpFile + " " + range));
    }
    const auto rate = [](double seconds) { return static_cast<double>(kBytes) / 1024.0 / seconds; };
    std::printf("%-6s %14s %14s %8s   (medians of %d interleaved rounds, KiB/s)\n", "", "back-end", "gdb-multiarch", "ratio",
                rounds);
    std::printf("%-6s %14.0f %14.0f %8.2f\n", "read", rate(median(backendRead)), rate(median(gdbRead)),
                median(gdbRead) / median(backendRead));
    std::printf("%-6s %14.0f %14.0f %8.2f\n", "write", rate(median(backendWrite)), rate(median(gdbWrite)),
                median(gdbWrite) / median(backendWrite));
    for (int round = 0; round < rounds; ++round)
        std::printf("round %d: read %.0f / %.0f, write %.0f / %.0f KiB/s\n", round + 1, rate(backendRead[round]),
                    rate(gdbRead[round]), rate(backendWrite[round]), rate(gdbWrite[round]));
    return 0;
}
