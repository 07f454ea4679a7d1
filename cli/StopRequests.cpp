// SPDX-License-Identifier: Apache-2.0
#include "cli/StopRequests.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include <unistd.h>

#include "cli/CliCommands.h"

namespace hil::cli {

namespace {

std::atomic<bool> requested{false};
std::atomic<int> stoppableScopes{0};

} // namespace

void watchStopSignals(const sigset_t& signals)
{
    std::thread([signals] {
        // One request can arrive twice: `timeout` and `kill -- -PGID` send it to the process
        // and to its group. A second within this time is the same one.
        constexpr auto kSameRequest = std::chrono::milliseconds(250);
        std::optional<std::chrono::steady_clock::time_point> first;
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0)
                continue;
            const auto now = std::chrono::steady_clock::now();
            if (first && now - *first < kSameRequest)
                continue;
            const bool again = first.has_value();
            first = now;
            requested = true;
            if (again || stoppableScopes.load() == 0) {
                // std::cout writes through stdio's buffers, which this takes its locks to flush.
                std::fflush(nullptr);
                static constexpr char kLine[] = "\ninterrupted\n";
                [[maybe_unused]] const auto written = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
                ::_exit(ExitCode::Interrupted);
            }
        }
    }).detach();
}

bool stopRequested() { return requested.load(); }

StoppableSteps::StoppableSteps() { ++stoppableScopes; }

StoppableSteps::~StoppableSteps() { --stoppableScopes; }

StoppedTransfer::StoppedTransfer(std::uint64_t done, std::uint64_t total)
    : std::runtime_error("interrupted after " + std::to_string(done) + " of " + std::to_string(total) +
                         " byte(s)"),
      done(done)
{
}

} // namespace hil::cli
