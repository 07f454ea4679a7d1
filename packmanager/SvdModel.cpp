// SPDX-License-Identifier: Apache-2.0
#include "packmanager/SvdModel.h"

#include <algorithm>

namespace hil::packs {

std::uint64_t SvdField::mask() const
{
    const std::uint64_t ones = width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
    return ones << lsb;
}

std::uint32_t SvdRegister::bytes() const { return (sizeBits + 7) / 8; }

std::uint64_t SvdRegisterBlock::extent() const
{
    std::uint64_t end = 0;
    for (const auto& reg : registers)
        end = std::max(end, reg.offset + reg.bytes());
    for (const auto& cluster : clusters)
        end = std::max(end, cluster.offset + cluster.block.extent());
    return end;
}

} // namespace hil::packs
