// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/interfaces/IMemoryContext.h"
#include "platform/common/Errors.h"

namespace hil::bundles {

/// The failed runs of one memory transfer, at the addresses the client asked for, in address
/// order; every byte outside them succeeded.
class MemoryErrorRuns : public IMemoryErrorMap {
public:
    struct Run {
        std::uint64_t address;
        std::uint64_t length;
        int status;
    };

    explicit MemoryErrorRuns(std::vector<Run> runs) : runs_(std::move(runs)) {}

    /// The map of `runs`, or null when nothing failed (what a transfer hands back then).
    static MemoryErrorMapPtr of(std::vector<Run> runs)
    {
        return runs.empty() ? nullptr : std::make_shared<MemoryErrorRuns>(std::move(runs));
    }

    int getStatusAt(std::uint64_t address, std::uint32_t& length) const override
    {
        for (const auto& run : runs_) {
            if (address < run.address) {
                length = clamp(run.address - address);
                return 0;
            }
            if (address - run.address < run.length) {
                length = clamp(run.length - (address - run.address));
                return run.status;
            }
        }
        // Nothing fails beyond the last run.
        length = 0;
        return 0;
    }

private:
    static std::uint32_t clamp(std::uint64_t length)
    {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(length, std::numeric_limits<std::uint32_t>::max()));
    }

    std::vector<Run> runs_;
};

/// Throws `UsageError` for a negative `count` or one that does not fit a buffer of
/// `bufferSize` bytes from `offset` on: what every memory context checks before a transfer.
inline void checkTransfer(std::int64_t count, std::uint64_t offset, std::size_t bufferSize)
{
    if (count < 0)
        throw UsageError("negative byte count " + std::to_string(count));
    if (offset > bufferSize || static_cast<std::uint64_t>(count) > bufferSize - offset)
        throw UsageError("a transfer of " + std::to_string(count) + " bytes does not fit its buffer");
}

} // namespace hil::bundles
