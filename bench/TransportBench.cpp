// SPDX-License-Identifier: Apache-2.0
// Round trips of "Locator" "sync" over loopback, against a plain blocking echo of the same
// command bytes in a process of its own, all measured by the same plain client in the same run,
// interleaved. The same echo in this process, which shares the clients' address space as no
// server can, is measured beside them to show what that sharing is worth.
//
// transport_bench [ROUNDS] [SECONDS]: ROUNDS rounds (default 5) of SECONDS (default 1) a side.

#include <cstdio>
#include <cstdlib>

#include "bench/PlainLoopback.h"
#include "tests/e2e/BackendProcess.h"

int main(int argc, char** argv)
{
    using namespace hil::bench::plain;
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 1.0;

    PlainServerProcess echo;
    PlainServer echoInThisProcess;
    hil::e2e::BackendProcess backend(hil::e2e::BackendProcess::withTestBundles({"--log-mask", "0x20"}));
    const std::string sync = hil::tcf::encodeMessage({hil::tcf::MessageKind::Command, {"1", "Locator", "sync"}});
    const Exchange toBackend{sync, 0, true};
    const Exchange toEcho{sync, sync.size(), false};

    std::printf("| clients | back-end round trips/s | plain echo round trips/s | ratio | plain echo in the client's "
                "process | ratio to it |\n|---|---|---|---|---|---|\n");
    for (const int clients : {1, 4}) {
        const auto figures = interleave(rounds, {[&] { return rate(backend.port(), toBackend, clients, 1, seconds); },
                                                 [&] { return rate(echo.port(), toEcho, clients, 1, seconds); },
                                                 [&] { return rate(echoInThisProcess.port(), toEcho, clients, 1, seconds); }});
        std::printf("| %d | %s | %s | %s | %s | %s |\n", clients, spread(figures[0], 0).c_str(), spread(figures[1], 0).c_str(),
                    spread(ratios(figures[0], figures[1]), 2).c_str(), spread(figures[2], 0).c_str(),
                    spread(ratios(figures[0], figures[2]), 2).c_str());
        std::fflush(stdout);
    }
    return 0;
}
