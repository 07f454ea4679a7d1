// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <csignal>

namespace hil {

/// Blocks SIGINT and SIGTERM in the calling thread, and in every thread it starts afterwards, so
/// that one place can wait for them with `sigwait`; SIGPIPE is ignored, since a peer that goes
/// away is reported by the socket calls. Call before any thread starts. Returns the set blocked.
sigset_t blockStopSignals();

} // namespace hil
