// SPDX-License-Identifier: Apache-2.0
// The sample devices of devices/ load, and every register of every module instance lies inside
// its address space.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/devicedescription/OrixToolsDeviceFileReader.h"

namespace hil {
namespace {

using testing::ElementsAre;

std::string devicePath(const std::string& file) { return std::string(HIL_DEVICES_DIR) + "/" + file; }

/// Every register reached through `group` and its nested groups, with the group's address space.
void collectRegisters(const std::shared_ptr<DIRegisterGroup>& group, const std::string& space,
                      std::vector<std::pair<std::string, std::shared_ptr<DIRegister>>>& out)
{
    for (const auto& reg : group->getRegisters())
        out.emplace_back(space, reg);
    for (const auto& nested : group->getRegisterGroups())
        collectRegisters(nested, space, out);
}

/// Checks that each register lies wholly inside its address space and that each bit-field mask
/// fits its register; returns how many registers were checked.
std::size_t checkRegisterPlacement(const DIDevice& device)
{
    std::size_t checked = 0;
    for (const auto& module : device.getModules()) {
        for (const auto& group : module->getRegisterGroups()) {
            std::vector<std::pair<std::string, std::shared_ptr<DIRegister>>> registers;
            collectRegisters(group, group->getAddressSpace(), registers);
            for (const auto& [spaceName, reg] : registers) {
                const auto space = device.getAddressSpace(spaceName);
                const std::string where = module->getName() + "." + group->getName() + "." + reg->getName();
                if (!space) {
                    ADD_FAILURE() << where << " names no known address space";
                    continue;
                }
                EXPECT_GE(reg->getAddress(), space->getStart()) << where;
                EXPECT_LE(reg->getAddress() + reg->getSize(), space->getStart() + space->getSize()) << where;
                EXPECT_GT(reg->getSize(), 0u) << where;
                for (const auto& bitfield : reg->getBitfields()) {
                    const std::uint64_t registerMask = reg->getSize() >= 8 ? ~0ull : (1ull << (8 * reg->getSize())) - 1;
                    EXPECT_EQ(bitfield->getMask() & ~registerMask, 0u) << where << "." << bitfield->getName();
                    EXPECT_NE(bitfield->getMask(), 0u) << where << "." << bitfield->getName();
                }
                ++checked;
            }
        }
    }
    return checked;
}

TEST(SampleDevices, Demo8LoadsWithEveryRegisterInsideItsSpace)
{
    Status status;
    const auto device = OrixToolsDeviceFileReader::parseFile(status, devicePath("DEMO8.tdesc"), "DEMO8");
    EXPECT_EQ(device->getArchitecture(), "ORIX8");
    std::vector<std::string> spaces;
    for (const auto& space : device->getAddressSpaces())
        spaces.push_back(space->getId());
    EXPECT_THAT(spaces, ElementsAre("prog", "data", "eeprom", "fuses", "lockbits", "signatures"));
    EXPECT_GT(checkRegisterPlacement(*device), 30u);
    EXPECT_EQ(device->getModule("PORT")->getRegisterGroup("PORT2")->getRegister("PORT")->getAddress(), 0x2Bu);
    EXPECT_EQ(device->getPropertyGroup("SIGNATURES")->getProperty("SIGNATURE1")->getValueAsUnsigned(), 0x95u);
}

TEST(SampleDevices, Demo32MergesItsTwoFilesWithEveryRegisterInsideItsSpace)
{
    Status status;
    const auto device = OrixToolsDeviceFileReader::parseFiles(
        status, {devicePath("DEMO32.tdesc"), devicePath("DEMO32.peripherals.tdesc")}, "DEMO32");
    EXPECT_EQ(device->getArchitecture(), "CORTEX-M4");
    EXPECT_TRUE(device->getAddressSpace("eeprom")->isBigEndian());
    EXPECT_GT(checkRegisterPlacement(*device), 40u);
    const auto channel = device->getModule("TIM2")->getRegisterGroup("TIM2")->getRegisterGroup("CH3");
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->getRegister("CCR")->getAddress(), 0x40010400u + 0x40 + 3 * 8 + 4);
    const auto accessors = device->getAddressSpace("base")->getMemorySegment("FLASH")->getMemoryAccessors();
    ASSERT_EQ(accessors.size(), 2u);
    EXPECT_EQ(accessors[0]->getSize(), 0x20000u);
    EXPECT_TRUE(accessors[1]->hasOcdBlockMarker());
}

} // namespace
} // namespace hil
