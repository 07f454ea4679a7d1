// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <mutex>

#include "bundles/common/DriverMemory.h"
#include "bundles/common/TargetContext.h"
#include "bundles/gdbremote/GdbTarget.h"
#include "core/interfaces/IMemoryContext.h"
#include "core/interfaces/IRegistersContext.h"

namespace hil::gdbremote {

/// The target of one connected tool, shared by the contexts below its device. An operation of
/// several packets (a flash block rewrite, a register read) holds the lock throughout.
struct TargetLink {
    explicit TargetLink(std::unique_ptr<RspClient> client) : target(std::move(client)) {}
    std::mutex mutex;
    GdbTarget target;
};

/// One address space of a target behind a GDB server.
///
/// Bytes outside the space fail with `kOutsideSpace`; a chunk the server refuses fails with its
/// error number (QEMU: 0x14 for an unmapped address); the rest is transferred. A transfer while
/// the target runs, or over a lost connection, throws with a text that says so. Writes fire
/// memory-changed with what reached the target.
///
/// The cache calls are taken and write through: a GDB server holds nothing back, so what a
/// client writes reaches the target at once and a commit has nothing left to write.
class GdbMemory : public bundles::DriverMemory, public std::enable_shared_from_this<GdbMemory> {
public:
    static constexpr int kOutsideSpace = 2;

    GdbMemory(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId, bundles::AddressSpaceLayout layout,
              std::shared_ptr<TargetLink> link);

    void writeMemory(std::uint64_t address, int wordSize, std::vector<std::uint8_t>& bytes, std::uint64_t offset,
                     std::int64_t count, int mode, tcf::IIntermediateResult* progress, MemoryErrorMapPtr& errors) override;
    void readMemory(std::uint64_t address, int wordSize, std::vector<std::uint8_t>& bytes, std::uint64_t offset,
                    std::int64_t count, int mode, tcf::IIntermediateResult* progress, MemoryErrorMapPtr& errors) override;
    void fillMemory(std::uint64_t address, int wordSize, std::vector<std::uint8_t>& pattern, std::int64_t count, int mode,
                    tcf::IIntermediateResult* progress, MemoryErrorMapPtr& errors) override;
    void cacheMemoryRange(std::uint64_t, int, int) override {}
    void uncacheMemoryRange(std::uint64_t, std::int64_t) override {}
    void commitMemoryCache(tcf::IIntermediateResult*, MemoryErrorMapPtr& errors) override { errors = nullptr; }

private:
    using Transfer = std::function<std::vector<GdbTarget::Run>(std::uint64_t address, std::uint64_t index, std::uint64_t length)>;
    /// Runs `transfer` over the part of [address, address + count) inside the space and fails
    /// the rest; the map of what failed.
    MemoryErrorMapPtr transferInside(std::uint64_t address, std::uint64_t count, const Transfer& transfer,
                                     MemoryRanges* reached);

    const std::shared_ptr<TargetLink> link_;
};

/// One register a GDB server describes: `Size` bytes in target order (least significant first
/// on Cortex-M), read with `p` and written with `P` each time, so the value is never stale.
/// Properties as the other register contexts have, plus "Group" and "Number" from the server.
class GdbRegister : public bundles::TargetContext<IRegistersContext>, public std::enable_shared_from_this<GdbRegister> {
public:
    GdbRegister(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId, RemoteRegister described,
                std::shared_ptr<TargetLink> link);

    boost::json::object getProperties() const override;
    std::string getKind() const override { return "register"; }
    int getSize() const override { return (described_.bitSize + 7) / 8; }
    void getValue(std::vector<std::uint8_t>& value) override;
    /// Throws `UsageError` unless `value` has exactly `Size` bytes.
    void setValue(const std::vector<std::uint8_t>& value) override;
    boost::signals2::connection addRegisterChangedHandler(const RegisterChangedSignal::slot_type& slot) override;

private:
    const RemoteRegister described_;
    const std::shared_ptr<TargetLink> link_;
    RegisterChangedSignal registerChanged_;
};

} // namespace hil::gdbremote
