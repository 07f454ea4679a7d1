// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "core/interfaces/IContextBase.h"
#include "platform/tcf/IIntermediateResult.h"

namespace hil {

/// What a memory transfer hands back about the parts of its range that failed.
class IMemoryErrorMap {
public:
    virtual ~IMemoryErrorMap() = default;
    /// The status of the byte at `address` (0 for success) and, in `length`, how many consecutive
    /// bytes from there share it. A length of 0 means the map knows nothing beyond `address`.
    virtual int getStatusAt(std::uint64_t address, std::uint32_t& length) const = 0;
};

using MemoryErrorMapPtr = std::shared_ptr<IMemoryErrorMap>;

/// A range of target memory: (first address, size in bytes).
using MemoryRange = std::pair<std::uint64_t, std::uint64_t>;
using MemoryRanges = std::vector<MemoryRange>;

class IMemoryContext;

/// Fired with the ranges that changed, in the order they changed; any thread may fire it.
using MemoryChangedSignal = boost::signals2::signal<void(std::shared_ptr<IMemoryContext>, const MemoryRanges&)>;

/// One memory of a target (an address space), implemented by a driver bundle.
///
/// Transfers report a failure of the whole operation by throwing, and failures of parts of the
/// range through `errors`, which they may leave null when every byte succeeded. The meaning of
/// the word size, the mode and the cache flags belongs to the context.
class IMemoryContext : public IContextBase {
public:
    /// Writes `count` bytes of `bytes`, from index `offset` on, to `address`. `progress` may
    /// receive reports of a long transfer and may be null.
    virtual void writeMemory(std::uint64_t address, int wordSize, std::vector<std::uint8_t>& bytes,
                             std::uint64_t offset, std::int64_t count, int mode, tcf::IIntermediateResult* progress,
                             MemoryErrorMapPtr& errors) = 0;
    /// Reads `count` bytes from `address` into `bytes` from index `offset` on; `bytes` already
    /// holds room for them. Bytes that fail keep the value they had.
    virtual void readMemory(std::uint64_t address, int wordSize, std::vector<std::uint8_t>& bytes,
                            std::uint64_t offset, std::int64_t count, int mode, tcf::IIntermediateResult* progress,
                            MemoryErrorMapPtr& errors) = 0;
    /// Writes `count` bytes from `address` on, repeating `pattern`.
    virtual void fillMemory(std::uint64_t address, int wordSize, std::vector<std::uint8_t>& pattern, std::int64_t count,
                            int mode, tcf::IIntermediateResult* progress, MemoryErrorMapPtr& errors) = 0;
    virtual boost::signals2::connection addMemoryChangedHandler(const MemoryChangedSignal::slot_type& slot) = 0;
    /// From now on, writes to [address, address + size) are held until the cache is committed.
    virtual void cacheMemoryRange(std::uint64_t address, int size, int flags) = 0;
    /// Ends the caching of [address, address + size).
    virtual void uncacheMemoryRange(std::uint64_t address, std::int64_t size) = 0;
    /// Writes every held write through to the target.
    virtual void commitMemoryCache(tcf::IIntermediateResult* progress, MemoryErrorMapPtr& errors) = 0;
};

} // namespace hil
