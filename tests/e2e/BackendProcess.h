// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace hil::e2e {

/// The services the back-end with the test bundles announces: the locator first, then the
/// bundles' services in name order.
inline const std::vector<std::string> kTestBundleServices{"Locator", "Device",    "Echo",    "Memory", "Message",
                                                          "Packs",   "Registers", "Stimuli", "Tool"};

struct CommandRun {
    int exitCode = -1;
    std::string output; ///< standard output and standard error together
};

/// Runs `command` through the shell and waits for it.
CommandRun runCommand(const std::string& command);

/// The real back-end executable, started on a free loopback port for one test.
class BackendProcess {
public:
    /// Starts the back-end with `--listen 127.0.0.1:0` and the given options; waits until it
    /// says which port it listens on. Throws `std::runtime_error` when it does not start.
    /// Unless the test set them, the pack folders are the sample devices' alone and the pack
    /// cache is a folder of this test process: no test reads or writes the user's.
    /// Discovery is off unless the options name "--discovery".
    explicit BackendProcess(std::vector<std::string> options = {},
                            const std::filesystem::path& executable = HIL_BACKEND_PATH);
    /// Stops the back-end (SIGTERM, then SIGKILL after 10 s).
    ~BackendProcess();
    BackendProcess(const BackendProcess&) = delete;
    BackendProcess& operator=(const BackendProcess&) = delete;

    std::uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    /// Sends SIGTERM and returns the exit status (-1 when it had to be killed).
    int stop();
    /// What the back-end wrote to standard error so far.
    std::string log() const;

    /// The default options of the tests: the bundle directory with the core and Echo bundles.
    static std::vector<std::string> withTestBundles(std::vector<std::string> options = {});
    /// The test bundles, with preferences written into `directory` that point the simulator's
    /// virtual probes at `directory`/probes (created empty) and the device search at the sample
    /// devices and their pack manager, as the shipped preferences do.
    static std::vector<std::string> withProbeDirectory(const std::filesystem::path& directory);
    /// The preferences of `withProbeDirectory` with the bundles the back-end ships (core,
    /// simulator, GDB remote) instead of the test bundles.
    static std::vector<std::string> withShippedBundles(const std::filesystem::path& directory);
    /// The core and the GDB remote bundles, with preferences in `directory` that find the
    /// sample devices and list `endpoints` as the GDB servers to poll.
    static std::vector<std::string> withGdbRemote(const std::filesystem::path& directory, const std::string& endpoints = "");
    /// The test bundles, with preferences in `directory` that find the sample devices and name
    /// `packFolders` (separated by commas) as the pack folders.
    static std::vector<std::string> withPackFolders(const std::filesystem::path& directory, const std::string& packFolders);

private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    std::filesystem::path logFile_;
};

} // namespace hil::e2e
