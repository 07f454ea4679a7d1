// SPDX-License-Identifier: Apache-2.0
// "Memory" "get" from the simulator over loopback, against a plain blocking server that answers
// the same request with the bytes of the very reply the back-end gave, both measured by the same
// plain client in the same run, interleaved.
//
// memory_transfer_bench [ROUNDS] [SECONDS]: ROUNDS rounds (default 5) of SECONDS (default 1) a side.

#include <cstdio>
#include <cstdlib>

#include "bench/PlainLoopback.h"
#include "platform/tcf/TcfClient.h"
#include "tests/e2e/BackendProcess.h"

namespace {

/// The back-end with a simulated DEMO32 connected; the client that set it up lives as long as
/// the target, because a tool goes with its client.
class SimulatedTarget {
public:
    SimulatedTarget() : backend_(hil::e2e::BackendProcess::withTestBundles({"--log-mask", "0x20"}))
    {
        owner_.connect("127.0.0.1", backend_.port());
        owner_.call("Tool", "setupTool", {R"("com.velmora.hil.simulator")", R"("")", "{}"});
        owner_.call("Tool", "setProperties", {R"("simulator-1")", R"({"DeviceName":"DEMO32"})"});
        owner_.call("Tool", "connect", {R"("simulator-1")"});
    }
    std::uint16_t port() const { return backend_.port(); }

private:
    hil::e2e::BackendProcess backend_;
    hil::tcf::TcfClient owner_;
};

/// Whether `reply` holds the token, `bytes` bytes in Base64 with their quotes, an error and the
/// range errors: a failed read has no data.
bool isWholeRead(const std::string& reply, std::size_t bytes)
{
    std::vector<hil::tcf::Message> messages;
    hil::tcf::MessageDecoder().feed(reply, [&](hil::tcf::Message&& message) { messages.push_back(std::move(message)); });
    return messages.size() == 1 && messages[0].fields.size() == 4 && messages[0].fields[1].size() == (bytes + 2) / 3 * 4 + 2;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace hil::bench::plain;
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 1.0;
    SimulatedTarget target;

    std::printf("| read | in flight | back-end reads/s | back-end MiB/s | plain replies/s | ratio |\n"
                "|---|---|---|---|---|---|\n");
    for (const std::size_t bytes : {4096, 65536}) {
        const std::string get = hil::tcf::encodeMessage(
            {hil::tcf::MessageKind::Command,
             {"1", "Memory", "get", R"("simulator-1.DEMO32.base")", "0", "1", std::to_string(bytes), "0"}});
        const std::string reply = firstReply(target.port(), {get, 0, true});
        if (!isWholeRead(reply, bytes)) {
            std::fprintf(stderr, "the back-end did not read %zu bytes\n", bytes);
            return 1;
        }
        PlainServer server(reply);
        const Exchange toBackend{get, reply.size(), true};
        const Exchange toServer{get, reply.size(), false};
        for (const std::size_t inFlight : {1, 8}) {
            const auto figures =
                interleave(rounds, {[&] { return rate(target.port(), toBackend, 1, inFlight, seconds); },
                                    [&] { return rate(server.port(), toServer, 1, inFlight, seconds); }});
            auto mebibytes = figures[0];
            for (auto& each : mebibytes)
                each *= static_cast<double>(bytes) / (1 << 20);
            std::printf("| %zu KiB | %zu | %s | %s | %s | %s |\n", bytes / 1024, inFlight, spread(figures[0], 0).c_str(),
                        spread(mebibytes, 0).c_str(), spread(figures[1], 0).c_str(),
                        spread(ratios(figures[0], figures[1]), 2).c_str());
            std::fflush(stdout);
        }
    }
    return 0;
}
