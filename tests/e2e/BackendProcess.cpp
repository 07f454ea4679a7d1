// SPDX-License-Identifier: Apache-2.0
#include "tests/e2e/BackendProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {

namespace {

std::string readLineWithTimeout(int fd, std::chrono::seconds timeout)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, 100) <= 0)
            continue;
        char c = 0;
        if (read(fd, &c, 1) != 1)
            break;
        if (c == '\n')
            return line;
        line.push_back(c);
    }
    return line;
}

} // namespace

CommandRun runCommand(const std::string& command)
{
    CommandRun run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
        run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::vector<std::string> BackendProcess::withTestBundles(std::vector<std::string> options)
{
    options.insert(options.begin(), {"--bundles", HIL_E2E_BUNDLE_DIR});
    return options;
}

namespace {

/// Preferences in `directory` that find the sample devices through their pack manager, plus
/// `more` lines; the path of the file.
std::string writePreferences(const std::filesystem::path& directory, const std::string& more)
{
    const auto preferences = directory / "preferences.properties";
    std::ofstream(preferences) << "application.dir = " << HIL_DEVICES_DIR << "\n"
                               << "packmanager.dir = " << HIL_PACK_LIBRARY_DIR << "\n"
                               << more;
    return preferences.string();
}

} // namespace

std::vector<std::string> BackendProcess::withShippedBundles(const std::filesystem::path& directory)
{
    std::filesystem::create_directories(directory / "probes");
    return {"--preferences", writePreferences(directory, "simulator.probedir = " + (directory / "probes").string() + "\n")};
}

std::vector<std::string> BackendProcess::withProbeDirectory(const std::filesystem::path& directory)
{
    return withTestBundles(withShippedBundles(directory));
}

std::vector<std::string> BackendProcess::withGdbRemote(const std::filesystem::path& directory, const std::string& endpoints)
{
    const auto preferences = writePreferences(directory, "gdbremote.endpoints = " + endpoints + "\n");
    return {"--bundles", HIL_E2E_GDB_BUNDLE_DIR, "--preferences", preferences};
}

std::vector<std::string> BackendProcess::withPackFolders(const std::filesystem::path& directory, const std::string& packFolders)
{
    return withTestBundles({"--preferences", writePreferences(directory, "packs.folders = " + packFolders + "\n")});
}

BackendProcess::BackendProcess(std::vector<std::string> options, const std::filesystem::path& executable)
{
    static int instance = 0;
    static const fakes::TempDirectory packCache;
    setenv("HIL_PACK_FOLDERS", HIL_DEVICES_DIR, 0);
    setenv("HIL_PACK_CACHE", packCache.path().c_str(), 0);
    logFile_ = std::filesystem::temp_directory_path() /
               ("hilcore-e2e-" + std::to_string(getpid()) + "-" + std::to_string(instance++) + ".log");
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> arguments{executable.string(), "--listen", "127.0.0.1:0"};
    // Tests run side by side: none takes part in discovery unless it is what it tests.
    if (std::find(options.begin(), options.end(), "--discovery") == options.end())
        arguments.insert(arguments.end(), {"--discovery", "off"});
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        throw std::runtime_error("cannot start " + executable.string());
    }
    const std::string line = readLineWithTimeout(out[0], std::chrono::seconds(20));
    close(out[0]);
    const auto colon = line.rfind(':');
    if (line.rfind("Listening on ", 0) != 0 || colon == std::string::npos) {
        stop();
        throw std::runtime_error("back-end did not start: '" + line + "'\n" + log());
    }
    port_ = static_cast<std::uint16_t>(std::stoi(line.substr(colon + 1)));
}

BackendProcess::~BackendProcess()
{
    stop();
    std::error_code ignored;
    std::filesystem::remove(logFile_, ignored);
}

int BackendProcess::stop()
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string BackendProcess::log() const
{
    std::ifstream file(logFile_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace hil::e2e
