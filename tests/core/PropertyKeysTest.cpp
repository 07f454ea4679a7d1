#include <gtest/gtest.h>

#include <boost/json/object.hpp>

#include "core/interfaces/PropertyKeys.h"

namespace hil {
namespace {

TEST(PropertyKeys, DeviceAndProcessRunControlKeysAreDistinct)
{
    boost::json::object description;
    description[keys::DeviceKey::RunControlID] = "rc1";
    EXPECT_EQ(description.if_contains(keys::ProcessKey::RunControlId), nullptr);
    EXPECT_NE(description.if_contains(keys::DeviceKey::RunControlID), nullptr);
}

TEST(PropertyKeys, NetworkProbeIdentifierIsFormedFromTheProbeIdentifier)
{
    EXPECT_EQ(keys::ConnectionType::SeggerIp, "com.velmora.orixdbg.connection.segger.ip");
    EXPECT_EQ(keys::ConnectionType::SeggerIp, keys::ConnectionType::Segger + ".ip");
}

TEST(PropertyKeys, TextsThatNoIdentifierCanSpellKeepTheirSpelling)
{
    EXPECT_EQ(keys::Architecture::CORTEX_M0PLUS, "CORTEX-M0PLUS");
    EXPECT_EQ(keys::PhysicalInterface::USB_Serial, "USB-Serial");
    EXPECT_EQ(keys::MemoryAccessType::Virtual, "virtual");
    EXPECT_EQ(keys::RegisterKey::Writeable, "Writeable");
}

} // namespace
} // namespace hil
