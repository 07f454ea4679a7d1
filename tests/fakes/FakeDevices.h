// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gmock/gmock.h>

#include "bundles/common/DeviceSignals.h"
#include "tests/fakes/FakeContext.h"

namespace hil::fakes {

/// A device context whose operations are mocks; its three signals are real, so a test fires them.
class FakeDeviceContext : public bundles::DeviceSignals<FakeContext<IDeviceContext>> {
public:
    using DeviceSignals::DeviceSignals;

    MOCK_METHOD(std::shared_ptr<SessionStartInfo>, startSession, (Status&, int, bool, std::shared_ptr<void>), (override));
    MOCK_METHOD(bool, endSession, (), (override));
    MOCK_METHOD(void, erase, (int, bool, std::uint64_t, int), (override));
    MOCK_METHOD(void, getInfo, (boost::json::value&, int), (override));
    MOCK_METHOD(void, runSpecialOperation, (Status&, int), (override));
    MOCK_METHOD(void, getProperty, (boost::json::value&, int), (override));
    MOCK_METHOD(std::shared_ptr<IStimuliPort>, getStimuliPort, (), (override));
};

} // namespace hil::fakes
