// SPDX-License-Identifier: Apache-2.0
#include <csignal>
#include <iostream>

#include <malloc.h>

#include "host/BackendHost.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/StopSignals.h"
#include "platform/common/Version.h"

namespace {

std::filesystem::path executableDir()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
}

/// A memory read of tens of kilobytes allocates and frees its buffers once per command. With
/// glibc's defaults those buffers are mapped and unmapped or trimmed each time, and every return
/// of pages costs page faults and cross-CPU TLB flushes (dear on virtual machines): it tripled
/// the time of a 64 KiB read. Fixed thresholds keep freed blocks up to these sizes for reuse.
///
/// One arena for all threads: each channel thread would otherwise get an arena of its own, and
/// an arena other than the first keeps up to the trim threshold of freed memory for good (only
/// the first one's top is ever given back), so clients that came, read megabytes and left would
/// leave tens of MiB behind. The channels trim what they freed as they close.
void tuneAllocator()
{
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
}

} // namespace

int main(int argc, char** argv)
{
    tuneAllocator();
    // Before any thread starts, so that only the sigwait below receives them.
    const sigset_t stopSignals = hil::blockStopSignals();

    hil::host::HostOptions options;
    try {
        options = hil::host::parseHostOptions(std::vector<std::string>(argv + 1, argv + argc), executableDir());
    } catch (const hil::host::OptionError& error) {
        std::cerr << "hilcore-backend: " << error.what() << '\n';
        return 2;
    }
    if (options.help) {
        std::cout << hil::host::hostUsage();
        return 0;
    }
    if (options.version) {
        std::cout << hil::versionLine("hilcore-backend") << "\n";
        return 0;
    }
    hil::BackendLogger::useConsole();
    hil::gLogMask = options.logMask;
    hil::BackendLogger::enableCategories(options.logCategories);
    if (!hil::host::isLoopbackAddress(options.address))
        std::cerr << "WARNING: listening on " << options.address
                  << ": anyone who can reach this address can drive the attached probes and targets.\n";
    try {
        hil::host::BackendHost backend(options);
        const auto port = backend.start();
        std::cout << "Listening on " << options.address << ":" << port << std::endl;
        int received = 0;
        sigwait(&stopSignals, &received);
        std::cout << "Shutting down (" << (received == SIGINT ? "SIGINT" : "SIGTERM") << ")" << std::endl;
    } catch (const std::exception& error) {
        std::cerr << "hilcore-backend: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
