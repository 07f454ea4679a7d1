// SPDX-License-Identifier: Apache-2.0
// gdb-multiarch through the back-end's GDB server against gdb-multiarch straight to QEMU's own
// stub, on two mps2-an385 machines running the test firmware: `load` of a 1 MiB image into SRAM,
// `dump binary memory` of 1 MiB, and 1,000 `stepi`. Each timed between two time stamps gdb takes
// itself (its start and its connection are not counted); the two sides alternate, work by work,
// round by round. The ratio is the back-end's rate over the stub's: the hop it adds.
//
// Usage: gdbserver_bench [ROUNDS] (default 5). Needs qemu-system-arm, gdb-multiarch,
// arm-none-eabi-objcopy and the test firmware.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>

#include <boost/json.hpp>

#include "bench/GdbMultiarch.h"
#include "bench/Median.h"
#include "bench/SyncTcfClient.h"
#include "bundles/gdbremote/QemuProcess.h"
#include "tests/e2e/BackendProcess.h"
#include "tests/fakes/TempDirectory.h"

namespace {

using hil::bench::median;
using hil::bench::timeGdb;
constexpr std::size_t kImageBytes = 1 << 20;
constexpr int kSteps = 1000;

/// A 1 MiB ELF image of random bytes for SRAM at 0x20000000.
std::string makeImage(const std::filesystem::path& directory)
{
    const auto raw = directory / "image.bin";
    const auto elf = directory / "image.elf";
    std::vector<char> bytes(kImageBytes);
    std::mt19937 random(7);
    for (auto& byte : bytes)
        byte = static_cast<char>(random());
    std::ofstream(raw, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const std::string command = "arm-none-eabi-objcopy -I binary -O elf32-littlearm -B arm --change-section-address "
                                ".data=0x20000000 --rename-section .data=.image,alloc,load,contents " +
                                raw.string() + " " + elf.string();
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("arm-none-eabi-objcopy could not make the image");
    return elf.string();
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 5;
    if (hil::gdbremote::QemuProcess::executable().empty() || std::system("command -v gdb-multiarch >/dev/null") != 0 ||
        std::system("command -v arm-none-eabi-objcopy >/dev/null") != 0 || std::string(HIL_FIRMWARE_ELF).empty()) {
        std::cerr << "needs qemu-system-arm, gdb-multiarch, arm-none-eabi-objcopy and the test firmware\n";
        return 2;
    }
    hil::fakes::TempDirectory directory;
    const auto image = makeImage(directory.path());
    const auto dump = (directory.path() / "dump.bin").string();

    hil::e2e::BackendProcess backend(hil::e2e::BackendProcess::withGdbRemote(directory.path()));
    hil::bench::SyncTcfClient client(backend.port());
    const std::string kernel = boost::json::serialize(boost::json::object{{"Kernel", HIL_FIRMWARE_ELF}});
    if (client.call("Tool", "setupTool", {R"("com.velmora.hil.gdbremote")", R"("com.velmora.hil.connection.qemu")", kernel})
                .at(0) != "" ||
        client.call("Tool", "connect", {R"("gdbremote-1")"}).at(0) != "" ||
        client.call("Tool", "setProperties", {R"("gdbremote-1")", R"({"GdbServer":0})"}).at(0) != "") {
        std::cerr << "the back-end could not start its QEMU and its GDB server\n";
        return 1;
    }
    const auto tool = boost::json::parse(client.call("Tool", "getContext", {R"("gdbremote-1")"}).at(1)).as_object();
    const auto hilcorePort = static_cast<std::uint16_t>(tool.at("GdbServerPort").to_number<std::int64_t>());
    hil::gdbremote::QemuProcess qemu("mps2-an385", HIL_FIRMWARE_ELF, nullptr);

    struct Work {
        const char* name;
        std::string command;
        double units; ///< what a second of it moves: KiB, or steps
        const char* unit;
        std::vector<double> hilcore, stub;
    };
    std::vector<Work> works{
        {"load 1 MiB into SRAM", "load " + image, kImageBytes / 1024.0, "KiB/s", {}, {}},
        {"dump binary memory 1 MiB", "dump binary memory " + dump + " 0x20000000 0x20100000", kImageBytes / 1024.0, "KiB/s", {}, {}},
        {"stepi 1000", "stepi " + std::to_string(kSteps), kSteps, "steps/s", {}, {}},
    };
    for (int round = 0; round < rounds; ++round)
        for (auto& work : works) {
            work.hilcore.push_back(work.units / timeGdb(hilcorePort, work.command));
            work.stub.push_back(work.units / timeGdb(qemu.gdbPort(), work.command));
        }

    std::printf("gdb-multiarch through the GDB server and straight to QEMU's stub, medians of %d interleaved rounds\n", rounds);
    std::printf("%-26s %14s %14s %8s\n", "", "GDB server", "QEMU stub", "ratio");
    for (const auto& work : works)
        std::printf("%-26s %10.0f %-3s %10.0f %-3s %8.2f\n", work.name, median(work.hilcore), "", median(work.stub), "",
                    median(work.hilcore) / median(work.stub));
    std::printf("(units: %s, %s, %s)\n", works[0].unit, works[1].unit, works[2].unit);
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d:", round + 1);
        for (const auto& work : works)
            std::printf("  %.0f/%.0f", work.hilcore[static_cast<std::size_t>(round)], work.stub[static_cast<std::size_t>(round)]);
        std::printf("\n");
    }
    return 0;
}
