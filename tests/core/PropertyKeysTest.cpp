// SPDX-License-Identifier: Apache-2.0
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

} // namespace
} // namespace hil
