// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/e2e/BackendProcess.h"

namespace hil::e2e {

/// A command on a pseudo-terminal, as a person runs it: its output is read as it comes, and
/// Ctrl-C is typed when the test says.
class Terminal {
public:
    explicit Terminal(const std::string& command)
    {
        pid_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), nullptr);
            ::_exit(127);
        }
    }
    ~Terminal()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(terminal_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    /// Reads until the output holds `text`; false when it did not within `timeout`, or the
    /// program ended first.
    bool waitFor(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (output_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left <= std::chrono::milliseconds(0) || !readSome(static_cast<int>(left.count())))
                return false;
        }
        return true;
    }
    void typeCtrlC() { ASSERT_EQ(::write(terminal_, "\x03", 1), 1); }
    /// Reads to the end and waits for the program: its exit code, and all it printed.
    CommandRun finish()
    {
        while (readSome(30000)) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output_};
    }
    const std::string& output() const { return output_; }

private:
    /// False at the end of the output, or when nothing came within `milliseconds`.
    bool readSome(int milliseconds)
    {
        pollfd ready{terminal_, POLLIN, 0};
        if (::poll(&ready, 1, milliseconds) <= 0)
            return false;
        char buffer[4096];
        const auto got = ::read(terminal_, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        for (const char c : std::string_view(buffer, static_cast<std::size_t>(got)))
            if (c != '\r') // the terminal ends its lines with "\r\n"
                output_ += c;
        return true;
    }

    int terminal_ = -1;
    pid_t pid_ = -1;
    std::string output_;
};

} // namespace hil::e2e
