// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <csignal>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace hil::cli {

/// Starts the thread that hears Ctrl-C and SIGTERM (`signals`, blocked in every thread before).
/// The first one asks a verb inside a `StoppableSteps` to stop at its next step; anywhere else,
/// and at the second one, the process ends at once with exit code 130.
void watchStopSignals(const sigset_t& signals);

/// True once Ctrl-C or SIGTERM came.
bool stopRequested();

/// While one lives, the first Ctrl-C only asks for a stop: the verb checks `stopRequested`
/// between its steps and says how far it got.
class StoppableSteps {
public:
    StoppableSteps();
    ~StoppableSteps();
    StoppableSteps(const StoppableSteps&) = delete;
    StoppableSteps& operator=(const StoppableSteps&) = delete;
};

/// Thrown by a transfer that stopped because it was asked to; the text says how far it got.
class StoppedTransfer : public std::runtime_error {
public:
    StoppedTransfer(std::uint64_t done, std::uint64_t total);

    const std::uint64_t done;
};

} // namespace hil::cli
