// SPDX-License-Identifier: Apache-2.0
#include "bundles/simulator/SimulatedMemory.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "bundles/common/MemoryTransfer.h"
#include "platform/common/Errors.h"

namespace hil::simulator {

namespace {

constexpr std::uint64_t kMaxSegmentBytes = 1u << 20;
constexpr std::uint8_t kErased = 0xFF;

bool startsErased(const DIMemorySegment& segment)
{
    const std::string type = segment.getType();
    return type == "flash" || type == "eeprom" || type == "fuses" || type == "lockbits";
}

/// Appends [address, address + length) to `ranges`, joining it to the last range when it
/// continues or overlaps it (segments may overlap).
void appendRange(MemoryRanges& ranges, std::uint64_t address, std::uint64_t length)
{
    if (!ranges.empty()) {
        auto& [lastStart, lastLength] = ranges.back();
        if (address >= lastStart && address <= lastStart + lastLength) {
            lastLength = std::max(lastStart + lastLength, address + length) - lastStart;
            return;
        }
    }
    ranges.emplace_back(address, length);
}

void checkRangeSize(std::int64_t size)
{
    if (size <= 0)
        throw UsageError("a cached range needs a positive size, not " + std::to_string(size));
}

} // namespace

SimulatedMemory::SimulatedMemory(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId,
                                 const DIAddressSpace& space)
    : DriverMemory(std::move(id), std::move(device), std::move(deviceId), bundles::AddressSpaceLayout::of(space))
{
    for (const auto& segment : space.getMemorySegments()) {
        const std::uint64_t start = std::max(segment->getStart(), layout_.start);
        const std::uint64_t end = std::min(segment->getStart() + std::min(segment->getSize(), kMaxSegmentBytes), layout_.end);
        if (start < end)
            segments_.push_back({segment, start, end});
    }
    // Overlapping segments (a boot section inside the flash) share one region of bytes.
    auto ordered = segments_;
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
    for (const auto& segment : ordered) {
        const bool writable = segment.description->isWritable();
        if (!regions_.empty() && segment.start < regions_.back().end()) {
            auto& region = regions_.back();
            region.writable = region.writable && writable;
            if (segment.end > region.end())
                region.bytes.resize(segment.end - region.start, 0);
        } else {
            regions_.push_back({segment.start, std::vector<std::uint8_t>(segment.end - segment.start, 0), writable});
        }
    }
    for (const auto& segment : segments_) {
        if (!startsErased(*segment.description))
            continue;
        auto* region = regionAt(segment.start);
        std::fill_n(region->bytes.begin() + static_cast<std::ptrdiff_t>(segment.start - region->start),
                    segment.end - segment.start, kErased);
    }
}

std::uint64_t SimulatedMemory::normalise(std::uint64_t address) const
{
    if (layout_.addressSize() <= 4 && (address >> 32) == 0xFFFFFFFF)
        return address & 0xFFFFFFFF;
    return address;
}

const SimulatedMemory::Region* SimulatedMemory::regionAt(std::uint64_t address) const
{
    auto after = std::upper_bound(regions_.begin(), regions_.end(), address,
                                  [](std::uint64_t value, const Region& region) { return value < region.start; });
    if (after == regions_.begin())
        return nullptr;
    const auto& region = *std::prev(after);
    return address < region.end() ? &region : nullptr;
}

std::vector<SimulatedMemory::Piece> SimulatedMemory::piecesOf(std::uint64_t address, std::uint64_t count)
{
    std::vector<Piece> pieces;
    const std::uint64_t base = normalise(address);
    for (std::uint64_t index = 0; index < count;) {
        const std::uint64_t at = base + index;
        const std::uint64_t left = count - index;
        Piece piece{nullptr, at, index, left, 0};
        if (at < base || at >= layout_.end) {
            piece.status = kOutsideSpace;
        } else if (at < layout_.start) {
            piece.length = std::min(left, layout_.start - at);
            piece.status = kOutsideSpace;
        } else if (Region* region = regionAt(at)) {
            piece.region = region;
            piece.length = std::min(left, region->end() - at);
        } else {
            const auto next = std::upper_bound(regions_.begin(), regions_.end(), at,
                                               [](std::uint64_t value, const Region& r) { return value < r.start; });
            const std::uint64_t gapEnd = next == regions_.end() ? layout_.end : next->start;
            piece.length = std::min(left, gapEnd - at);
            piece.status = kNoMemory;
        }
        pieces.push_back(piece);
        index += piece.length;
    }
    return pieces;
}

void SimulatedMemory::readMemory(std::uint64_t address, int, std::vector<std::uint8_t>& bytes, std::uint64_t offset,
                                 std::int64_t count, int, tcf::IIntermediateResult*, MemoryErrorMapPtr& errors)
{
    bundles::checkTransfer(count, offset, bytes.size());
    std::vector<bundles::MemoryErrorRuns::Run> failed;
    std::lock_guard lock(mutex_);
    for (const auto& piece : piecesOf(address, static_cast<std::uint64_t>(count))) {
        if (!piece.region) {
            failed.push_back({address + piece.index, piece.length, piece.status});
            continue;
        }
        auto* target = bytes.data() + offset + piece.index;
        std::copy_n(piece.region->bytes.begin() + static_cast<std::ptrdiff_t>(piece.address - piece.region->start),
                    piece.length, target);
        // Held writes are what the client last wrote there.
        for (auto held = pending_.lower_bound(piece.address); held != pending_.end() && held->first - piece.address < piece.length; ++held)
            target[held->first - piece.address] = held->second;
    }
    errors = bundles::MemoryErrorRuns::of(std::move(failed));
}

MemoryRanges SimulatedMemory::writePieces(std::uint64_t address, std::int64_t count, const Write& write,
                                          MemoryErrorMapPtr& errors)
{
    std::vector<bundles::MemoryErrorRuns::Run> failed;
    MemoryRanges written;
    std::vector<std::uint8_t> staged;
    for (const auto& piece : piecesOf(address, static_cast<std::uint64_t>(count))) {
        if (!piece.region || !piece.region->writable) {
            failed.push_back({address + piece.index, piece.length, piece.region ? kReadOnly : piece.status});
            continue;
        }
        auto* target = piece.region->bytes.data() + (piece.address - piece.region->start);
        if (cachedRanges_.empty()) {
            write(piece.index, piece.address, target, piece.length);
            appendRange(written, piece.address, piece.length);
            continue;
        }
        staged.resize(piece.length);
        write(piece.index, piece.address, staged.data(), piece.length);
        for (std::uint64_t i = 0; i < piece.length; ++i) {
            if (isCached(piece.address + i)) {
                pending_[piece.address + i] = staged[i];
            } else {
                target[i] = staged[i];
                appendRange(written, piece.address + i, 1);
            }
        }
    }
    errors = bundles::MemoryErrorRuns::of(std::move(failed));
    return written;
}

void SimulatedMemory::writeMemory(std::uint64_t address, int, std::vector<std::uint8_t>& bytes, std::uint64_t offset,
                                  std::int64_t count, int, tcf::IIntermediateResult*, MemoryErrorMapPtr& errors)
{
    bundles::checkTransfer(count, offset, bytes.size());
    MemoryRanges written;
    {
        std::lock_guard lock(mutex_);
        written = writePieces(address, count, [&](std::uint64_t index, std::uint64_t, std::uint8_t* target, std::uint64_t length) {
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset + index), length, target);
        }, errors);
    }
    announce(written);
}

void SimulatedMemory::fillMemory(std::uint64_t address, int, std::vector<std::uint8_t>& pattern, std::int64_t count, int,
                                 tcf::IIntermediateResult*, MemoryErrorMapPtr& errors)
{
    bundles::checkTransfer(count, 0, std::numeric_limits<std::size_t>::max());
    if (pattern.empty() && count > 0)
        throw UsageError("a fill needs a pattern of at least one byte");
    MemoryRanges written;
    {
        std::lock_guard lock(mutex_);
        written = writePieces(address, count, [&](std::uint64_t index, std::uint64_t, std::uint8_t* target, std::uint64_t length) {
            // The pattern runs from the first byte of the request, across failed stretches.
            for (std::uint64_t i = 0; i < length; ++i)
                target[i] = pattern[(index + i) % pattern.size()];
        }, errors);
    }
    announce(written);
}

bool SimulatedMemory::isCached(std::uint64_t address) const
{
    return std::any_of(cachedRanges_.begin(), cachedRanges_.end(),
                       [address](const MemoryRange& range) { return address - range.first < range.second; });
}

void SimulatedMemory::cacheMemoryRange(std::uint64_t address, int size, int)
{
    checkRangeSize(size);
    std::lock_guard lock(mutex_);
    cachedRanges_.emplace_back(normalise(address), static_cast<std::uint64_t>(size));
}

MemoryRanges SimulatedMemory::flushPending(std::uint64_t from, std::uint64_t to)
{
    MemoryRanges written;
    auto held = pending_.lower_bound(from);
    while (held != pending_.end() && held->first < to) {
        // Bytes are held only where a writable region is.
        Region* region = regionAt(held->first);
        region->bytes[held->first - region->start] = held->second;
        appendRange(written, held->first, 1);
        held = pending_.erase(held);
    }
    return written;
}

void SimulatedMemory::uncacheMemoryRange(std::uint64_t address, std::int64_t size)
{
    checkRangeSize(size);
    const std::uint64_t from = normalise(address);
    const std::uint64_t to = from + static_cast<std::uint64_t>(size);
    MemoryRanges written;
    {
        std::lock_guard lock(mutex_);
        written = flushPending(from, to);
        std::vector<MemoryRange> kept;
        for (const auto& [start, length] : cachedRanges_) {
            const std::uint64_t end = start + length;
            if (start < from)
                kept.emplace_back(start, std::min(end, from) - start);
            if (end > to)
                kept.emplace_back(std::max(start, to), end - std::max(start, to));
        }
        cachedRanges_ = std::move(kept);
    }
    announce(written);
}

void SimulatedMemory::commitMemoryCache(tcf::IIntermediateResult*, MemoryErrorMapPtr& errors)
{
    MemoryRanges written;
    {
        std::lock_guard lock(mutex_);
        written = flushPending(0, std::numeric_limits<std::uint64_t>::max());
    }
    errors = nullptr;
    announce(written);
}

void SimulatedMemory::eraseSegments(const std::function<bool(const DIMemorySegment&)>& which, std::uint64_t from,
                                    std::uint64_t to)
{
    MemoryRanges erased;
    {
        std::lock_guard lock(mutex_);
        for (const auto& segment : segments_) {
            const std::uint64_t start = std::max(segment.start, from);
            const std::uint64_t end = std::min(segment.end, to);
            if (start >= end || !which(*segment.description))
                continue;
            Region* region = regionAt(start);
            std::fill_n(region->bytes.begin() + static_cast<std::ptrdiff_t>(start - region->start), end - start, kErased);
            appendRange(erased, start, end - start);
        }
    }
    announce(erased);
}

bool SimulatedMemory::segmentsBlank(const std::function<bool(const DIMemorySegment&)>& which) const
{
    std::lock_guard lock(mutex_);
    for (const auto& segment : segments_) {
        if (!which(*segment.description))
            continue;
        const Region* region = regionAt(segment.start);
        const auto first = region->bytes.begin() + static_cast<std::ptrdiff_t>(segment.start - region->start);
        if (!std::all_of(first, first + static_cast<std::ptrdiff_t>(segment.end - segment.start),
                         [](std::uint8_t byte) { return byte == kErased; }))
            return false;
    }
    return true;
}

void SimulatedMemory::load(std::uint64_t address, const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (Region* region = regionAt(address + i))
            region->bytes[address + i - region->start] = bytes[i];
}

void SimulatedMemory::announce(const MemoryRanges& ranges)
{
    if (!ranges.empty())
        memoryChanged_(shared_from_this(), ranges);
}

} // namespace hil::simulator
