// SPDX-License-Identifier: Apache-2.0
#include "bundles/common/AddressSpaceLayout.h"

#include <algorithm>

#include "core/interfaces/PropertyKeys.h"

namespace hil::bundles {

namespace MemoryKey = keys::MemoryKey;

AddressSpaceLayout AddressSpaceLayout::of(const DIAddressSpace& space)
{
    AddressSpaceLayout layout{space.getId(), space.getStart(), space.getStart() + space.getSize(), space.isBigEndian()};
    for (const auto& segment : space.getMemorySegments()) {
        const std::uint64_t start = std::max(segment->getStart(), layout.start);
        const std::uint64_t end = std::min(segment->getStart() + segment->getSize(), layout.end);
        if (start >= end)
            continue;
        layout.instructions = layout.instructions || segment->isExecutable();
        layout.data = layout.data || !segment->isExecutable();
        layout.io = layout.io || segment->getType() == "io";
    }
    return layout;
}

int AddressSpaceLayout::addressSize() const
{
    const std::uint64_t last = end > start ? end - 1 : start;
    if (last <= 0xFFFF)
        return 2;
    return last <= 0xFFFFFFFF ? 4 : 8;
}

boost::json::object AddressSpaceLayout::properties(const std::string& id, const std::string& parentId) const
{
    boost::json::array accessTypes;
    if (instructions)
        accessTypes.emplace_back(keys::MemoryAccessType::Instruction);
    if (data)
        accessTypes.emplace_back(keys::MemoryAccessType::Data);
    if (io)
        accessTypes.emplace_back(keys::MemoryAccessType::Io);
    return {{MemoryKey::ID, id},
            {MemoryKey::ParentID, parentId},
            {MemoryKey::Name, name},
            {MemoryKey::StartBound, start},
            {MemoryKey::EndBound, end > start ? end - 1 : start},
            {MemoryKey::AddressSize, addressSize()},
            {MemoryKey::BigEndian, bigEndian},
            {MemoryKey::AccessTypes, std::move(accessTypes)}};
}

} // namespace hil::bundles
