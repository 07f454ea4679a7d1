// SPDX-License-Identifier: Apache-2.0
// "Memory" "get" from the simulator over loopback, against a plain blocking server (in a process
// of its own, as the back-end is) that answers the same request with the bytes of the very reply
// the back-end gave, and against the same server encoding the data into each answer as any server
// answering from memory must, all three measured by the same plain client in the same run,
// interleaved.
//
// memory_transfer_bench [ROUNDS] [SECONDS]: ROUNDS rounds (default 5) of SECONDS (default 1) a side.

#include <cstdio>
#include <cstdlib>

#include "bench/PlainLoopback.h"
#include "platform/common/Base64.h"
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

/// The data of `reply` when it holds the token, `bytes` bytes in Base64 with their quotes, an
/// error and the range errors; nothing otherwise (a failed read has no data).
std::vector<std::uint8_t> dataOfWholeRead(const std::string& reply, std::size_t bytes)
{
    std::vector<hil::tcf::Message> messages;
    hil::tcf::MessageDecoder().feed(reply, [&](hil::tcf::Message&& message) { messages.push_back(std::move(message)); });
    std::vector<std::uint8_t> data;
    if (messages.size() == 1 && messages[0].fields.size() == 4 &&
        messages[0].fields[1].size() == hil::base64_length(bytes) + 2)
        hil::base64_decode(std::string_view(messages[0].fields[1]).substr(1, hil::base64_length(bytes)), data);
    return data;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace hil::bench::plain;
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 1.0;
    SimulatedTarget target;

    std::printf("| read | in flight | back-end reads/s | plain replies/s | plain + encode replies/s | ratio to plain | "
                "ratio to plain + encode |\n|---|---|---|---|---|---|---|\n");
    for (const std::size_t bytes : {4096, 65536}) {
        const std::string get = hil::tcf::encodeMessage(
            {hil::tcf::MessageKind::Command,
             {"1", "Memory", "get", R"("simulator-1.DEMO32.base")", "0", "1", std::to_string(bytes), "0"}});
        const std::string reply = firstReply(target.port(), {get, 0, true});
        const std::vector<std::uint8_t> data = dataOfWholeRead(reply, bytes);
        if (data.size() != bytes) {
            std::fprintf(stderr, "the back-end did not read %zu bytes\n", bytes);
            return 1;
        }
        PlainServerProcess server(reply);
        // Encodes straight from the data into the answer's text, which starts after the token's
        // field at the first quote: no copy of the data, no zero fill, no escaping.
        const std::size_t textAt = reply.find('"') + 1;
        PlainServerProcess encoder(reply, [&data, textAt](std::string& answer) { hil::base64_encode_to(data, answer.data() + textAt); });
        const Exchange toBackend{get, reply.size(), true};
        const Exchange toPlain{get, reply.size(), false};
        for (const std::size_t inFlight : {1, 8}) {
            const auto figures =
                interleave(rounds, {[&] { return rate(target.port(), toBackend, 1, inFlight, seconds); },
                                    [&] { return rate(server.port(), toPlain, 1, inFlight, seconds); },
                                    [&] { return rate(encoder.port(), toPlain, 1, inFlight, seconds); }});
            std::printf("| %zu KiB | %zu | %s | %s | %s | %s | %s |\n", bytes / 1024, inFlight, spread(figures[0], 0).c_str(),
                        spread(figures[1], 0).c_str(), spread(figures[2], 0).c_str(),
                        spread(ratios(figures[0], figures[1]), 2).c_str(),
                        spread(ratios(figures[0], figures[2]), 2).c_str());
            std::fflush(stdout);
        }
    }
    return 0;
}
