// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gmock/gmock.h>

#include "core/interfaces/IDeviceContext.h"
#include "tests/fakes/FakeContext.h"

namespace hil::fakes {

/// A device context whose operations are mocks; its three signals are real, so a test fires them.
class FakeDeviceContext : public FakeContext<IDeviceContext> {
public:
    using FakeContext::FakeContext;

    MOCK_METHOD(std::shared_ptr<SessionStartInfo>, startSession, (Status&, int, bool, std::shared_ptr<void>), (override));
    MOCK_METHOD(bool, endSession, (), (override));
    MOCK_METHOD(void, erase, (int, bool, std::uint64_t, int), (override));
    MOCK_METHOD(void, getInfo, (boost::json::value&, int), (override));
    MOCK_METHOD(void, runSpecialOperation, (Status&, int), (override));
    MOCK_METHOD(void, getProperty, (boost::json::value&, int), (override));
    MOCK_METHOD(std::shared_ptr<IStimuliPort>, getStimuliPort, (), (override));

    boost::signals2::connection connectExternalResetSlot(boost::signals2::connect_position position,
                                                         const FlagSignal::slot_type& slot) override
    {
        return externalReset.connect(slot, position);
    }
    boost::signals2::connection connectPowerStateSlot(boost::signals2::connect_position position,
                                                      const FlagSignal::slot_type& slot) override
    {
        return powerState.connect(slot, position);
    }
    boost::signals2::connection connectTargetEventSlot(boost::signals2::connect_position position,
                                                       const TargetEventSignal::slot_type& slot) override
    {
        return targetEvent.connect(slot, position);
    }

    FlagSignal externalReset;
    FlagSignal powerState;
    TargetEventSignal targetEvent;
};

} // namespace hil::fakes
