// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbremote/GdbContexts.h"

#include <algorithm>

#include "bundles/common/MemoryTransfer.h"
#include "core/interfaces/PropertyKeys.h"
#include "platform/common/Errors.h"

namespace hil::gdbremote {

namespace {

namespace RegisterKey = keys::RegisterKey;
namespace Role = keys::RegisterRole;

/// The role of the registers every ARM server names alike.
std::string roleOf(const std::string& name)
{
    if (name == "pc")
        return Role::PC;
    if (name == "sp")
        return Role::SP;
    if (name == "lr")
        return Role::RET;
    if (name == "xpsr" || name == "cpsr")
        return Role::SREG;
    return "";
}

/// The largest fill built in one piece: a pattern is repeated into a buffer of this size.
constexpr std::uint64_t kFillPiece = 64 * 1024;

} // namespace

GdbMemory::GdbMemory(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId,
                     bundles::AddressSpaceLayout layout, std::shared_ptr<TargetLink> link)
    : DriverMemory(std::move(id), std::move(device), std::move(deviceId), std::move(layout)), link_(std::move(link))
{
}

MemoryErrorMapPtr GdbMemory::transferInside(std::uint64_t address, std::uint64_t count, const Transfer& transfer,
                                            MemoryRanges* reached)
{
    const std::uint64_t end = count > UINT64_MAX - address ? UINT64_MAX : address + count;
    const std::uint64_t from = std::max(address, layout_.start);
    const std::uint64_t to = std::min(end, layout_.end);
    std::vector<bundles::MemoryErrorRuns::Run> failed;
    if (address < layout_.start)
        failed.push_back({address, std::min(end, layout_.start) - address, kOutsideSpace});
    if (from < to) {
        std::vector<GdbTarget::Run> runs;
        {
            std::lock_guard lock(link_->mutex);
            runs = transfer(from, from - address, to - from);
        }
        if (reached) {
            // What reached the target: the inside part less the runs that failed.
            std::uint64_t at = from;
            for (const auto& run : runs) {
                if (run.address > at)
                    reached->emplace_back(at, run.address - at);
                at = run.address + run.length;
            }
            if (at < to)
                reached->emplace_back(at, to - at);
        }
        failed.insert(failed.end(), runs.begin(), runs.end());
    }
    if (end > layout_.end) {
        const std::uint64_t after = std::max(address, layout_.end);
        failed.push_back({after, end - after, kOutsideSpace});
    }
    return bundles::MemoryErrorRuns::of(std::move(failed));
}

void GdbMemory::readMemory(std::uint64_t address, int, std::vector<std::uint8_t>& bytes, std::uint64_t offset,
                           std::int64_t count, int, tcf::IIntermediateResult*, MemoryErrorMapPtr& errors)
{
    bundles::checkTransfer(count, offset, bytes.size());
    errors = transferInside(address, static_cast<std::uint64_t>(count),
                            [&](std::uint64_t at, std::uint64_t index, std::uint64_t length) {
                                return link_->target.read(at, bytes.data() + offset + index, length);
                            },
                            nullptr);
}

void GdbMemory::writeMemory(std::uint64_t address, int, std::vector<std::uint8_t>& bytes, std::uint64_t offset,
                            std::int64_t count, int, tcf::IIntermediateResult*, MemoryErrorMapPtr& errors)
{
    bundles::checkTransfer(count, offset, bytes.size());
    MemoryRanges reached;
    errors = transferInside(address, static_cast<std::uint64_t>(count),
                            [&](std::uint64_t at, std::uint64_t index, std::uint64_t length) {
                                return link_->target.write(at, bytes.data() + offset + index, length);
                            },
                            &reached);
    if (!reached.empty())
        memoryChanged_(shared_from_this(), reached);
}

void GdbMemory::fillMemory(std::uint64_t address, int, std::vector<std::uint8_t>& pattern, std::int64_t count, int,
                           tcf::IIntermediateResult*, MemoryErrorMapPtr& errors)
{
    bundles::checkTransfer(count, 0, std::numeric_limits<std::size_t>::max());
    if (pattern.empty())
        throw UsageError("a fill needs a pattern of at least one byte");
    MemoryRanges reached;
    errors = transferInside(address, static_cast<std::uint64_t>(count),
                            [&](std::uint64_t at, std::uint64_t index, std::uint64_t length) {
                                std::vector<GdbTarget::Run> failed;
                                std::vector<std::uint8_t> piece;
                                for (std::uint64_t done = 0; done < length; done += piece.size()) {
                                    piece.resize(static_cast<std::size_t>(std::min(length - done, kFillPiece)));
                                    for (std::size_t i = 0; i < piece.size(); ++i)
                                        piece[i] = pattern[(index + done + i) % pattern.size()];
                                    auto runs = link_->target.write(at + done, piece.data(), piece.size());
                                    failed.insert(failed.end(), runs.begin(), runs.end());
                                }
                                return failed;
                            },
                            &reached);
    if (!reached.empty())
        memoryChanged_(shared_from_this(), reached);
}

GdbRegister::GdbRegister(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId, RemoteRegister described,
                         std::shared_ptr<TargetLink> link)
    : TargetContext(std::move(id), std::move(device), std::move(deviceId)), described_(std::move(described)), link_(std::move(link))
{
}

boost::json::object GdbRegister::getProperties() const
{
    boost::json::object properties{{RegisterKey::ID, id_},
                                   {RegisterKey::ParentID, parentId_},
                                   {RegisterKey::Name, described_.name},
                                   {RegisterKey::Size, getSize()},
                                   {RegisterKey::Readable, true},
                                   {RegisterKey::Writeable, true},
                                   {RegisterKey::BigEndian, false}};
    if (const auto role = roleOf(described_.name); !role.empty())
        properties[RegisterKey::Role] = role;
    properties["Group"] = described_.group;
    properties["Number"] = described_.number;
    return properties;
}

void GdbRegister::getValue(std::vector<std::uint8_t>& value)
{
    std::vector<std::uint8_t> read;
    {
        std::lock_guard lock(link_->mutex);
        read = link_->target.readRegister(described_);
    }
    std::copy_n(read.begin(), std::min(read.size(), value.size()), value.begin());
}

void GdbRegister::setValue(const std::vector<std::uint8_t>& value)
{
    if (value.size() != static_cast<std::size_t>(getSize()))
        throw UsageError("register " + described_.name + " takes " + std::to_string(getSize()) + " bytes, not " +
                                    std::to_string(value.size()));
    {
        std::lock_guard lock(link_->mutex);
        link_->target.writeRegister(described_, value);
    }
    registerChanged_(shared_from_this());
}

boost::signals2::connection GdbRegister::addRegisterChangedHandler(const RegisterChangedSignal::slot_type& slot)
{
    return registerChanged_.connect(slot);
}

} // namespace hil::gdbremote
