// SPDX-License-Identifier: Apache-2.0
// Many clients at once: 1, 8 and 32 clients each read 4 KiB of the simulator's SRAM, one "get"
// at a time, while a writer client sets 16 bytes of it as fast as it can, so that every client
// is sent a "memoryChanged" event for each write. Reported: the replies per second of all the
// readers, of the slowest and of the fastest (no client may starve), and the events each
// reader received per second.
//
// clients_bench [SECONDS] (default 3).

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "bench/PlainLoopback.h"
#include "platform/tcf/TcfClient.h"
#include "tests/e2e/BackendProcess.h"

namespace {

using namespace hil::bench::plain;
using Clock = std::chrono::steady_clock;

const std::string kSpace = R"("simulator-1.DEMO32.base")";
const std::string kSram = std::to_string(0x20000000);

std::string command(std::vector<std::string> fields)
{
    fields.insert(fields.begin(), {"1", "Memory"});
    return hil::tcf::encodeMessage({hil::tcf::MessageKind::Command, fields});
}

struct ClientFigures {
    double answers = 0;
    double events = 0;
};

/// One client: `request` again as soon as it is answered, until `stop`; answers and events a second.
ClientFigures run(std::uint16_t port, const std::string& request, const std::atomic<bool>& stop)
{
    const auto socket = connectLoopback(port);
    MessageReader reader(socket);
    exchangeHellos(socket, reader);
    const std::size_t eventsBefore = reader.events();
    const auto start = Clock::now();
    std::size_t answers = 0;
    while (!stop) {
        socket.writeAll(request);
        reader.awaitAnswers(1, 0);
        ++answers;
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return {static_cast<double>(answers) / elapsed, static_cast<double>(reader.events() - eventsBefore) / elapsed};
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    // 32 readers, the writer and the tool's owner: more than the default client limit.
    hil::e2e::BackendProcess backend(hil::e2e::BackendProcess::withTestBundles({"--log-mask", "0x20", "--max-clients", "40"}));
    // The tool goes with the client that set it up: this one stays for the whole run.
    hil::tcf::TcfClient owner;
    owner.connect("127.0.0.1", backend.port());
    owner.call("Tool", "setupTool", {R"("com.velmora.hil.simulator")", R"("")", "{}"});
    owner.call("Tool", "setProperties", {R"("simulator-1")", R"({"DeviceName":"DEMO32"})"});
    owner.call("Tool", "connect", {R"("simulator-1")"});

    const std::string get = command({"get", kSpace, kSram, "1", "4096", "0"});
    const std::string set = command({"set", kSpace, kSram, "1", "16", "0", R"("AAECAwQFBgcICQoLDA0ODw==")"});
    std::printf("| readers | replies/s, all | slowest reader | fastest reader | events/s a reader | writer sets/s |\n"
                "|---|---|---|---|---|---|\n");
    for (const int readers : {1, 8, 32}) {
        std::atomic<bool> stop = false;
        std::vector<ClientFigures> figures(static_cast<std::size_t>(readers));
        std::vector<std::thread> threads;
        for (auto& each : figures)
            threads.emplace_back([&] { each = run(backend.port(), get, stop); });
        double sets = 0;
        std::thread writer([&] { sets = run(backend.port(), set, stop).answers; });
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        stop = true;
        writer.join();
        for (auto& thread : threads)
            thread.join();
        double all = 0, events = 0;
        for (const auto& each : figures) {
            all += each.answers;
            events += each.events;
        }
        const auto [slowest, fastest] = std::minmax_element(
            figures.begin(), figures.end(), [](const auto& a, const auto& b) { return a.answers < b.answers; });
        std::printf("| %d | %.0f | %.0f | %.0f | %.0f | %.0f |\n", readers, all, slowest->answers, fastest->answers,
                    events / readers, sets);
        std::fflush(stdout);
    }
    return 0;
}
