// SPDX-License-Identifier: Apache-2.0
#include "cli/MemoryTransfers.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <span>
#include <unistd.h>

#include <boost/json.hpp>

#include "cli/StopRequests.h"
#include "platform/common/Base64.h"

namespace hil::cli {

namespace {

const std::string kMemory = "Memory";
/// The bytes one "get" or "set" of a long transfer carries: far below any message cap, and
/// small enough for a progress bar to move.
constexpr std::uint64_t kStep = 1u << 20;

/// Adds a failed run to a list, joining it to the last one when it goes on from there with the
/// same status: the steps of a transfer must not show up as runs of their own.
void appendRun(boost::json::array& rangeErrors, const boost::json::object& run)
{
    if (!rangeErrors.empty()) {
        auto& last = rangeErrors.back().as_object();
        if (last.at("stat") == run.at("stat") &&
            numberOf(last.at("addr")) + numberOf(last.at("size")) == numberOf(run.at("addr"))) {
            last["size"] = numberOf(last.at("size")) + numberOf(run.at("size"));
            return;
        }
    }
    rangeErrors.push_back(run);
}

} // namespace

TransferProgress::TransferProgress(CliContext& context, std::string label, std::uint64_t total)
    : context_(context), label_(std::move(label)), total_(total),
      drawing_(&context.err == &std::cerr && isatty(STDERR_FILENO) != 0 && total > kStep)
{
}

TransferProgress::~TransferProgress()
{
    if (drawing_)
        context_.err << "\r" << std::string(label_.size() + 48, ' ') << "\r" << std::flush;
}

void TransferProgress::advance(std::uint64_t bytes)
{
    done_ += bytes;
    draw();
}

void TransferProgress::draw()
{
    if (!drawing_)
        return;
    constexpr int kWidth = 30;
    const int filled = total_ ? static_cast<int>(done_ * kWidth / total_) : kWidth;
    context_.err << "\r" << label_ << " [" << std::string(filled, '#') << std::string(kWidth - filled, '-') << "] "
                 << padded(std::to_string(total_ ? done_ * 100 / total_ : 100), 3, Align::Right) << "%" << std::flush;
}

std::string TransferProgress::figures() const
{
    const double seconds = elapsed().count();
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.4f s (%.0f KiB/s)", seconds, seconds > 0 ? done_ / 1024.0 / seconds : 0.0);
    return std::to_string(done_) + " byte(s) in " + rate;
}

ReadResult readInSteps(CliContext& context, const std::string& id, std::uint64_t address, std::uint64_t count,
                       TransferProgress* progress, const ReadSink& sink)
{
    const StoppableSteps stoppable;
    ReadResult result;
    if (!sink)
        result.bytes.reserve(count);
    std::uint64_t done = 0;
    do {
        if (stopRequested())
            throw StoppedTransfer(done, count);
        const std::uint64_t step = std::min(count - done, kStep);
        const auto values = callForValues(context, kMemory, "get",
                                          {jsonText(id), std::to_string(address + done), "1", std::to_string(step), "0"});
        const auto part = bytesOf(values.at(0));
        if (sink)
            sink(part, values.at(2).as_array());
        else
            result.bytes.insert(result.bytes.end(), part.begin(), part.end());
        for (const auto& run : values.at(2).as_array())
            appendRun(result.rangeErrors, run.as_object());
        done += step;
        if (progress)
            progress->advance(step);
    } while (done < count);
    return result;
}

boost::json::array writeInSteps(CliContext& context, const std::string& id, std::uint64_t address,
                                const std::vector<std::uint8_t>& bytes, TransferProgress* progress)
{
    const StoppableSteps stoppable;
    boost::json::array rangeErrors;
    for (std::uint64_t done = 0; done < bytes.size() && rangeErrors.empty();) {
        if (stopRequested())
            throw StoppedTransfer(done, bytes.size());
        const std::uint64_t step = std::min<std::uint64_t>(bytes.size() - done, kStep);
        const auto values = callForValues(context, kMemory, "set",
                                          {jsonText(id), std::to_string(address + done), "1", std::to_string(step), "0",
                                           base64_json_string(std::span(bytes).subspan(done, step))});
        for (const auto& run : values.at(1).as_array())
            appendRun(rangeErrors, run.as_object());
        done += step;
        if (progress)
            progress->advance(step);
    }
    return rangeErrors;
}

std::string statusInWords(std::int64_t status)
{
    // The statuses the back-end's memory contexts use; any other is the target's own number.
    switch (status) {
    case 1: return "no memory there";
    case 2: return "outside the address space";
    case 3: return "read-only";
    default: return "refused by the target";
    }
}

int reportRangeErrors(CliContext& context, const boost::json::array& rangeErrors)
{
    for (const auto& run : rangeErrors) {
        const auto status = run.at("stat").to_number<std::int64_t>();
        errorOut(context) << numberOf(run.at("size")) << " byte(s) at " << hexText(numberOf(run.at("addr")), 8)
                          << " failed: " << statusInWords(status) << " (status " << status << ")\n";
    }
    return rangeErrors.empty() ? ExitCode::Ok : ExitCode::ErrorReply;
}

} // namespace hil::cli
