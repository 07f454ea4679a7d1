// SPDX-License-Identifier: Apache-2.0
// `hilcore-cli load` of a binary image against the back-end's own "Memory" "set" of the same
// bytes in the same steps, interleaved, five rounds each: into the simulated DEMO32's flash
// (256 KiB, all it has) and, where QEMU is installed, 1 MiB into the SRAM of its mps2-an385.
// The CLI's side is the rate it reports (its transfer, from the first "set" to the last reply)
// and, apart, the wall time of the whole process, start and connection included.
//
// Usage: load_bench [ROUNDS] (default 5).

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>

#include "bench/Median.h"
#include "bench/SyncTcfClient.h"
#include "bundles/gdbremote/QemuProcess.h"
#include "platform/common/Base64.h"
#include "tests/e2e/BackendProcess.h"
#include "tests/fakes/TempDirectory.h"

namespace {

using Clock = std::chrono::steady_clock;
using hil::bench::median;
/// What the CLI writes per "set"; the direct side uses the same steps.
constexpr std::size_t kStep = 1u << 20;

struct Target {
    std::string name;
    std::string space;
    std::uint64_t address;
    std::size_t bytes;
};

/// Seconds the back-end takes to "set" the image in `kStep` steps, from the first encoding to
/// the last reply: the work the CLI does, with nothing else.
double timeDirect(hil::bench::SyncTcfClient& client, const Target& target, const std::vector<std::uint8_t>& image)
{
    const auto start = Clock::now();
    for (std::size_t at = 0; at < image.size(); at += kStep) {
        const std::size_t size = std::min(kStep, image.size() - at);
        const std::vector<std::uint8_t> part(image.begin() + at, image.begin() + at + size);
        const auto reply = client.call("Memory", "set",
                                {"\"" + target.space + "\"", std::to_string(target.address + at), "1",
                                 std::to_string(size), "0", "\"" + hil::base64_encode(part) + "\""});
        if (reply.at(0) != "" || reply.at(1) != "[]")
            throw std::runtime_error("set failed: " + reply.at(0) + reply.at(1));
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct CliRun {
    double transferSeconds;
    double wallSeconds;
};

CliRun timeCli(std::uint16_t port, const Target& target, const std::string& file)
{
    const auto start = Clock::now();
    const auto run = hil::e2e::runCommand(std::string(HIL_CLI_PATH) + " --connect 127.0.0.1:" + std::to_string(port) +
                                          " load " + file + " --address " + std::to_string(target.address) +
                                          " --space " + target.space);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::smatch found;
    if (run.exitCode != 0 || !std::regex_search(run.output, found, std::regex("in ([0-9.]+) s")))
        throw std::runtime_error("load failed: " + run.output);
    return {std::stod(found[1]), wall};
}

void measure(std::uint16_t port, hil::bench::SyncTcfClient& client, const Target& target, int rounds,
             const std::filesystem::path& directory)
{
    std::vector<std::uint8_t> image(target.bytes);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const auto file = (directory / "image.bin").string();
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    std::vector<double> direct, cli, wall, ratios;
    for (int round = 0; round < rounds; ++round) {
        direct.push_back(timeDirect(client, target, image));
        const auto run = timeCli(port, target, file);
        cli.push_back(run.transferSeconds);
        wall.push_back(run.wallSeconds);
        ratios.push_back(direct.back() / cli.back());
    }
    const auto rate = [&](double seconds) { return static_cast<double>(target.bytes) / 1024.0 / seconds; };
    std::printf("%-22s %8zu KiB  set %8.0f KiB/s  load %8.0f KiB/s  ratio %.2f (%.2f - %.2f)  load wall %.1f ms\n",
                target.name.c_str(), target.bytes / 1024, rate(median(direct)), rate(median(cli)), median(ratios),
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()),
                median(wall) * 1000);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 5;
    hil::fakes::TempDirectory directory;
    std::printf("medians of %d interleaved rounds; ratio = set time / load transfer time (goal >= 0.9)\n", rounds);
    {
        hil::e2e::BackendProcess backend(hil::e2e::BackendProcess::withTestBundles({"--log-mask", "0x20"}));
        hil::bench::SyncTcfClient client(backend.port());
        client.call("Tool", "setupTool", {R"("com.velmora.hil.simulator")", R"("")", "{}"});
        client.call("Tool", "setProperties", {R"("simulator-1")", R"({"DeviceName":"DEMO32"})"});
        client.call("Tool", "connect", {R"("simulator-1")"});
        measure(backend.port(), client, {"simulator DEMO32 flash", "simulator-1.DEMO32.base", 0, 256u << 10}, rounds,
                directory.path());
    }
    if (hil::gdbremote::QemuProcess::executable().empty()) {
        std::printf("QEMU SRAM: skipped (no qemu-system-arm)\n");
        return 0;
    }
    hil::e2e::BackendProcess backend(hil::e2e::BackendProcess::withGdbRemote(directory.path()));
    hil::bench::SyncTcfClient client(backend.port());
    if (!client.connectQemuTool()) {
        std::cerr << "the back-end could not start its QEMU\n";
        return 1;
    }
    measure(backend.port(), client, {"QEMU mps2-an385 SRAM", "gdbremote-1.MPS2-AN385.base", 0x20000000, 1u << 20}, rounds,
            directory.path());
    return 0;
}
