// SPDX-License-Identifier: Apache-2.0
// The back-end's start: from spawning the process to the first Hello on a connection, and to the
// first reply of "Packs" "list" (what a user waits for before picking a device), with the sample
// devices and with 1,000 generated SVD devices in a pack folder, on a cold cache and a warm one;
// and its stop: from SIGTERM, with that client still connected, to the process gone.
//
// start_bench [ROUNDS] (default 9).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "bench/PlainLoopback.h"
#include "tests/e2e/BackendProcess.h"
#include "tests/fakes/TempDirectory.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace hil::bench::plain;

constexpr int kGeneratedDevices = 1000;

/// A small SVD device: one peripheral of four registers.
std::string svdDevice(int index)
{
    std::string svd = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<device schemaVersion=\"1.3\"><vendor>Velmora</vendor><name>GEN" +
                      std::to_string(index) +
                      "</name><version>1.0</version><description>A generated device</description><cpu><name>CM3</name>"
                      "<revision>r0p0</revision><endian>little</endian><mpuPresent>false</mpuPresent><fpuPresent>false</fpuPresent>"
                      "<nvicPrioBits>3</nvicPrioBits><vendorSystickConfig>false</vendorSystickConfig></cpu>"
                      "<addressUnitBits>8</addressUnitBits><width>32</width><size>32</size><resetValue>0</resetValue>"
                      "<resetMask>0xFFFFFFFF</resetMask><peripherals><peripheral><name>UART0</name><baseAddress>0x40000000"
                      "</baseAddress><addressBlock><offset>0</offset><size>0x100</size><usage>registers</usage></addressBlock>"
                      "<registers>";
    for (int r = 0; r < 4; ++r)
        svd += "<register><name>R" + std::to_string(r) + "</name><addressOffset>" + std::to_string(r * 4) +
               "</addressOffset><fields><field><name>F</name><bitRange>[3:0]</bitRange></field></fields></register>";
    return svd + "</registers></peripheral></peripherals></device>\n";
}

struct StartTimes {
    double hello = 0;
    double list = 0;
    double stop = 0;
};

/// Starts the back-end with `options`, then says Hello and lists the devices.
StartTimes start(const std::vector<std::string>& options)
{
    const auto spawned = Clock::now();
    hil::e2e::BackendProcess backend(options);
    const auto socket = connectLoopback(backend.port());
    MessageReader reader(socket);
    reader.awaitEvent();
    const auto hello = Clock::now();
    socket.writeAll(helloMessage());
    socket.writeAll(hil::tcf::encodeMessage({hil::tcf::MessageKind::Command, {"1", "Packs", "list"}}));
    // The answer must be a reply to token 1, not "N" (not recognised).
    if (reader.awaitAnswers(1, 0, true).find(std::string("R\0" "1\0", 4)) == std::string::npos)
        throw std::runtime_error("\"Packs\" \"list\" was not answered");
    const auto listed = Clock::now();
    backend.stop();
    const auto milliseconds = [](Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double, std::milli>(to - from).count();
    };
    return {milliseconds(spawned, hello), milliseconds(spawned, listed), milliseconds(listed, Clock::now())};
}

void report(const char* what, const std::vector<StartTimes>& times)
{
    std::vector<double> hello, list, stop;
    for (const auto& each : times) {
        hello.push_back(each.hello);
        list.push_back(each.list);
        stop.push_back(each.stop);
    }
    std::printf("| %s | %s | %s | %s |\n", what, spread(hello, 1).c_str(), spread(list, 1).c_str(), spread(stop, 1).c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
    const hil::fakes::TempDirectory work;
    const auto packs = work.path() / "packs";
    std::filesystem::create_directories(packs);
    for (int i = 0; i < kGeneratedDevices; ++i)
        std::ofstream(packs / ("GEN" + std::to_string(i) + ".svd")) << svdDevice(i);
    const auto withGenerated = hil::e2e::BackendProcess::withPackFolders(work.path(), packs.string());
    const auto withSamples = hil::e2e::BackendProcess::withTestBundles({"--log-mask", "0x20"});

    std::vector<StartTimes> samples, cold, warm;
    for (int round = 0; round < rounds; ++round) {
        samples.push_back(start(withSamples));
        // A cache of its own each round: the first start of a user with these packs.
        const auto cache = work.path() / ("cache-" + std::to_string(round));
        setenv("HIL_PACK_CACHE", cache.c_str(), 1);
        cold.push_back(start(withGenerated));
        warm.push_back(start(withGenerated));
    }
    std::printf("| packs | to the first Hello, ms | to the first device list, ms | SIGTERM to exit, ms |\n"
                "|---|---|---|---|\n");
    report("sample devices", samples);
    report("1,000 SVD devices, cold cache", cold);
    report("1,000 SVD devices, warm cache", warm);
    return 0;
}
