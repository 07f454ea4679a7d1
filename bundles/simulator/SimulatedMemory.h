// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <limits>
#include <map>
#include <mutex>

#include "bundles/common/DriverMemory.h"
#include "core/devicedescription/DeviceModel.h"
#include "core/interfaces/IMemoryContext.h"

namespace hil::simulator {

/// One address space of a simulated device, as a memory context.
///
/// The memory segments of the description are backed by bytes (at most 1 MiB a segment;
/// overlapping segments share their bytes). Flash, EEPROM, fuses and lock bits start erased
/// (0xFF), everything else at zero. Word size and mode are accepted and not needed.
///
/// A transfer never fails as a whole for a bad address: the bytes it cannot reach are reported
/// through the error map, with `kNoMemory` inside the space where no segment is, `kOutsideSpace`
/// beyond the space, and `kReadOnly` for a write to a read-only segment; the other bytes are
/// transferred. Bytes that fail to read keep what the buffer held. A negative count, or one
/// that does not fit the buffer, is thrown as `UsageError`.
///
/// In a space of at most 32 address bits, an address whose upper 32 bits are all ones is taken
/// as its lower 32 bits: clients that carry addresses as signed 32-bit numbers reach the upper
/// half of such a space.
///
/// Cache: writes to a cached range are held back, and reads see them, until `commitMemoryCache`
/// writes them through; `uncacheMemoryRange` writes through what it held for that range before
/// it stops caching it, so nothing written is lost.
///
/// Every write that reaches the target (a transfer, a fill, a commit, an erase) fires
/// memory-changed with the ranges it wrote, after the memory's lock is released.
class SimulatedMemory : public bundles::DriverMemory, public std::enable_shared_from_this<SimulatedMemory> {
public:
    static constexpr int kNoMemory = 1;
    static constexpr int kOutsideSpace = 2;
    static constexpr int kReadOnly = 3;

    SimulatedMemory(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId, const DIAddressSpace& space);

    /// The address space's id ("data").
    const std::string& name() const { return layout_.name; }

    void writeMemory(std::uint64_t address, int wordSize, std::vector<std::uint8_t>& bytes, std::uint64_t offset,
                     std::int64_t count, int mode, tcf::IIntermediateResult* progress, MemoryErrorMapPtr& errors) override;
    void readMemory(std::uint64_t address, int wordSize, std::vector<std::uint8_t>& bytes, std::uint64_t offset,
                    std::int64_t count, int mode, tcf::IIntermediateResult* progress, MemoryErrorMapPtr& errors) override;
    void fillMemory(std::uint64_t address, int wordSize, std::vector<std::uint8_t>& pattern, std::int64_t count, int mode,
                    tcf::IIntermediateResult* progress, MemoryErrorMapPtr& errors) override;
    void cacheMemoryRange(std::uint64_t address, int size, int flags) override;
    void uncacheMemoryRange(std::uint64_t address, std::int64_t size) override;
    void commitMemoryCache(tcf::IIntermediateResult* progress, MemoryErrorMapPtr& errors) override;

    /// Sets the bytes in [from, to) of the segments `which` selects to 0xFF, as an erase does.
    void eraseSegments(const std::function<bool(const DIMemorySegment&)>& which, std::uint64_t from = 0,
                       std::uint64_t to = std::numeric_limits<std::uint64_t>::max());
    /// Whether every backed byte of the segments `which` selects is 0xFF.
    bool segmentsBlank(const std::function<bool(const DIMemorySegment&)>& which) const;
    /// Puts `bytes` at `address` without a check or an event: the device's own content.
    void load(std::uint64_t address, const std::vector<std::uint8_t>& bytes);

private:
    struct Region {
        std::uint64_t start;
        std::vector<std::uint8_t> bytes;
        bool writable;
        std::uint64_t end() const { return start + bytes.size(); }
    };
    struct Segment {
        std::shared_ptr<DIMemorySegment> description;
        std::uint64_t start;
        std::uint64_t end;
    };
    /// A stretch of a transfer: `length` bytes from request offset `index`, at `address` of
    /// `region` (null when the stretch fails with `status`).
    struct Piece {
        Region* region;
        std::uint64_t address;
        std::uint64_t index;
        std::uint64_t length;
        int status;
    };
    using Write = std::function<void(std::uint64_t index, std::uint64_t address, std::uint8_t* target, std::uint64_t length)>;

    std::uint64_t normalise(std::uint64_t address) const;
    std::vector<Piece> piecesOf(std::uint64_t address, std::uint64_t count);
    /// Writes through `write` for every writable piece, the cache taking what it holds; returns
    /// the ranges written to the target and fills `errors`.
    MemoryRanges writePieces(std::uint64_t address, std::int64_t count, const Write& write, MemoryErrorMapPtr& errors);
    bool isCached(std::uint64_t address) const;
    /// Writes the held bytes in [from, to) through; the ranges they covered.
    MemoryRanges flushPending(std::uint64_t from, std::uint64_t to);
    const Region* regionAt(std::uint64_t address) const;
    Region* regionAt(std::uint64_t address)
    {
        return const_cast<Region*>(static_cast<const SimulatedMemory*>(this)->regionAt(address));
    }
    void announce(const MemoryRanges& ranges);

    std::vector<Segment> segments_;
    mutable std::mutex mutex_;
    std::vector<Region> regions_;
    std::vector<MemoryRange> cachedRanges_;
    std::map<std::uint64_t, std::uint8_t> pending_;
};


} // namespace hil::simulator
