// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/interfaces/IDeviceContext.h"

namespace hil::bundles {

/// A device context's three signals, which the Device service's handlers connect to, over the
/// `Base` that implements the rest of the device: the drivers' devices and the tests' fake alike.
/// The device (or a test) fires them.
template <class Base>
class DeviceSignals : public Base {
public:
    using Base::Base;
    using FlagSignal = IDeviceContext::FlagSignal;
    using TargetEventSignal = IDeviceContext::TargetEventSignal;

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

} // namespace hil::bundles
