// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>

#include <gmock/gmock.h>

#include "core/interfaces/IMemoryContext.h"
#include "core/interfaces/IOrixDebugger.h"
#include "core/interfaces/IRegistersContext.h"
#include "tests/fakes/FakeContext.h"

namespace hil::fakes {

/// A memory context whose transfers and cache operations are mocks; its memory-changed signal
/// is real, so a test fires it.
class FakeMemoryContext : public FakeContext<IMemoryContext> {
public:
    using FakeContext::FakeContext;

    MOCK_METHOD(void, writeMemory,
                (std::uint64_t, int, std::vector<std::uint8_t>&, std::uint64_t, std::int64_t, int, tcf::IIntermediateResult*,
                 MemoryErrorMapPtr&),
                (override));
    MOCK_METHOD(void, readMemory,
                (std::uint64_t, int, std::vector<std::uint8_t>&, std::uint64_t, std::int64_t, int, tcf::IIntermediateResult*,
                 MemoryErrorMapPtr&),
                (override));
    MOCK_METHOD(void, fillMemory,
                (std::uint64_t, int, std::vector<std::uint8_t>&, std::int64_t, int, tcf::IIntermediateResult*, MemoryErrorMapPtr&),
                (override));
    MOCK_METHOD(void, cacheMemoryRange, (std::uint64_t, int, int), (override));
    MOCK_METHOD(void, uncacheMemoryRange, (std::uint64_t, std::int64_t), (override));
    MOCK_METHOD(void, commitMemoryCache, (tcf::IIntermediateResult*, MemoryErrorMapPtr&), (override));

    boost::signals2::connection addMemoryChangedHandler(const MemoryChangedSignal::slot_type& slot) override
    {
        return memoryChanged.connect(slot);
    }

    MemoryChangedSignal memoryChanged;
};

/// An error map of runs given by the test: each run (status, length) follows the one before it
/// from `start` on; past the last run the map answers length 0.
class FakeErrorMap : public IMemoryErrorMap {
public:
    FakeErrorMap(std::uint64_t start, std::vector<std::pair<int, std::uint32_t>> runs) : start_(start), runs_(std::move(runs)) {}

    int getStatusAt(std::uint64_t address, std::uint32_t& length) const override
    {
        ++calls;
        std::uint64_t runStart = start_;
        for (const auto& [status, runLength] : runs_) {
            if (address >= runStart && address - runStart < runLength) {
                length = static_cast<std::uint32_t>(runLength - (address - runStart));
                return status;
            }
            runStart += runLength;
        }
        length = 0;
        return 0;
    }

    mutable int calls = 0;

private:
    std::uint64_t start_;
    std::vector<std::pair<int, std::uint32_t>> runs_;
};

/// A register holding `size` bytes; it records every value written and announces each write.
class FakeRegister : public FakeContext<IRegistersContext> {
public:
    FakeRegister(std::string id, int size) : FakeContext(std::move(id)), value(static_cast<std::size_t>(std::max(size, 0)), 0), size_(size) {}

    int getSize() const override { return size_; }
    void getValue(std::vector<std::uint8_t>& out) override
    {
        ++reads;
        std::copy(value.begin(), value.end(), out.begin());
    }
    void setValue(const std::vector<std::uint8_t>& written) override
    {
        if (failWrites)
            throw std::runtime_error("register " + getId() + " refuses writes");
        writes.push_back(written);
        value = written;
        value.resize(static_cast<std::size_t>(size_), 0);
    }
    boost::signals2::connection addRegisterChangedHandler(const RegisterChangedSignal::slot_type& slot) override
    {
        return registerChanged.connect(slot);
    }

    std::vector<std::uint8_t> value;
    std::vector<std::vector<std::uint8_t>> writes;
    int reads = 0;
    bool failWrites = false;
    RegisterChangedSignal registerChanged;

private:
    int size_;
};

/// A parent of memory and register contexts with the lists a test gives it.
class FakeParent : public IMemoryRegistersParent {
public:
    std::vector<std::shared_ptr<IRegistersContext>> listRegistersContexts() const override { return registers; }
    std::vector<std::shared_ptr<IMemoryContext>> listMemoryContexts() const override { return memories; }

    std::vector<std::shared_ptr<IMemoryContext>> memories;
    std::vector<std::shared_ptr<IRegistersContext>> registers;
};

} // namespace hil::fakes
