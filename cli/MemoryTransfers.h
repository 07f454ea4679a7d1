// SPDX-License-Identifier: Apache-2.0
#pragma once

// Memory transfers of any size through "Memory" "get" and "set", in steps that each fit one
// message, shared by the verbs that read, write, dump, restore and load.

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include <boost/json/array.hpp>

#include "cli/CliCommands.h"

namespace hil::cli {

/// Draws how far a long transfer has come, on a terminal only: a bar on the error stream,
/// redrawn in place. Elsewhere (a pipe, a file, a test) it draws nothing.
class TransferProgress {
public:
    TransferProgress(CliContext& context, std::string label, std::uint64_t total);
    ~TransferProgress();
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    void advance(std::uint64_t bytes);
    std::uint64_t bytes() const { return done_; }
    std::chrono::duration<double> elapsed() const { return std::chrono::steady_clock::now() - started_; }
    /// "N byte(s) in T s (R KiB/s)".
    std::string figures() const;

private:
    void draw();

    CliContext& context_;
    const std::string label_;
    const std::uint64_t total_;
    std::uint64_t done_ = 0;
    const bool drawing_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

/// The bytes of a read and the failed runs of it, adjacent runs of one status joined.
struct ReadResult {
    std::vector<std::uint8_t> bytes;
    boost::json::array rangeErrors;
};

/// Receives each step's bytes of a read, in order, with the step's failed runs, instead of the
/// result.
using ReadSink = std::function<void(std::span<const std::uint8_t> bytes, const boost::json::array& failedRuns)>;

/// Reads `count` bytes from `address` of the memory context `id` (into `sink` when given; the
/// result then holds only the failed runs). Throws `ReplyError` when a step is refused, and
/// `StoppedTransfer` when Ctrl-C asked it to stop.
ReadResult readInSteps(CliContext& context, const std::string& id, std::uint64_t address, std::uint64_t count,
                       TransferProgress* progress = nullptr, const ReadSink& sink = {});

/// Writes `bytes` to `address` of the memory context `id`; the failed runs. Stops after the
/// first step of which a byte failed: what comes after is not written. Throws `ReplyError`
/// when a step is refused, and `StoppedTransfer` when Ctrl-C asked it to stop.
boost::json::array writeInSteps(CliContext& context, const std::string& id, std::uint64_t address,
                                const std::vector<std::uint8_t>& bytes, TransferProgress* progress = nullptr);

/// What a range error's status means, in words.
std::string statusInWords(std::int64_t status);

/// Each failed run as an error line naming its bytes, address and status in words; exits 1 when
/// there is one, so that a script cannot take a transfer of which any byte failed for a success.
int reportRangeErrors(CliContext& context, const boost::json::array& rangeErrors);

} // namespace hil::cli
