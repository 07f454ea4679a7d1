// SPDX-License-Identifier: Apache-2.0
// How "getContext" and "getChildren" cost grows with the contexts a service holds: 10, 1,000 and
// 100,000 registered, in groups of one parent and nine children. A lookup should cost the same
// at every size, and a listing should grow with the children it returns, not with the registry.
//
// Measured in the process, through the command server's own dispatch (argument decoding, the
// registry, the reply's JSON), without the transport, whose cost does not depend on the registry.
//
// contexts_bench [ROUNDS] (default 5).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "bench/Median.h"
#include "core/frame/CommandServerBase.h"
#include "core/frame/ServiceBase.h"
#include "tests/fakes/FakeContext.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/RecordingChannel.h"

namespace {

using Clock = std::chrono::steady_clock;

class ContextsService : public hil::ServiceBase<hil::IServiceBase> {
public:
    explicit ContextsService(hil::IOrixDebugger& debugger) : ServiceBase(debugger, "Contexts") {}
};

class ContextsServer : public hil::CommandServerBase {
public:
    using CommandServerBase::CommandServerBase;
};

constexpr int kChildrenPerGroup = 9;

/// Microseconds per call of `command` with `argument`, the argument changing each call.
double microsecondsPerCall(hil::ICommandServer& server, const std::string& command,
                           const std::function<std::string(std::size_t)>& argument)
{
    hil::fakes::RecordingChannel channel;
    const hil::tcf::Token token("1");
    std::size_t calls = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(300);
    while ((calls & 255) != 0 || Clock::now() < end) {
        server.handleCommand(channel, token, command, {argument(calls)});
        channel.replies.clear();
        ++calls;
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / static_cast<double>(calls);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    std::printf("| contexts | getContext, us | getChildren of a group (9), us | getChildren of the roots, us | "
                "per root listed, us |\n|---|---|---|---|---|\n");
    for (const std::size_t total : {10, 1000, 100000}) {
        hil::fakes::FakeDebugger debugger;
        const auto service = std::make_shared<ContextsService>(debugger);
        const std::size_t groups = total / (kChildrenPerGroup + 1);
        const auto groupId = [](std::size_t group) { return "\"g" + std::to_string(group) + "\""; };
        for (std::size_t group = 0; group < groups; ++group) {
            const auto parent = hil::fakes::makeContext("g" + std::to_string(group));
            service->addContext(parent);
            for (int child = 0; child < kChildrenPerGroup; ++child)
                service->addContext(hil::fakes::makeContext(parent->getId() + ".c" + std::to_string(child), parent));
        }
        ContextsServer server(debugger, service);
        std::vector<double> lookup, group, roots;
        for (int round = 0; round < rounds; ++round) {
            // Spread over the registry so that the lookups do not stay in one cache line.
            lookup.push_back(microsecondsPerCall(server, "getContext", [&](std::size_t i) { return groupId(i * 7919 % groups); }));
            group.push_back(microsecondsPerCall(server, "getChildren", [&](std::size_t i) { return groupId(i * 7919 % groups); }));
            roots.push_back(microsecondsPerCall(server, "getChildren", [](std::size_t) { return std::string("\"\""); }));
        }
        std::printf("| %zu | %.2f | %.2f | %.1f | %.3f |\n", total, hil::bench::median(lookup), hil::bench::median(group),
                    hil::bench::median(roots), hil::bench::median(roots) / static_cast<double>(groups));
        std::fflush(stdout);
    }
    return 0;
}
