// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "bundles/common/TargetContext.h"
#include "core/interfaces/IDeviceContext.h"

namespace hil::bundles {

/// What every driver's target device shares: a "device" context without a parent (its tool
/// lives in another service), and the three signals the Device service's handlers connect to.
class DriverDevice : public TargetContext<IDeviceContext> {
public:
    explicit DriverDevice(std::string id) : TargetContext(std::move(id), {}, "") {}

    std::string getKind() const override { return "device"; }
    boost::signals2::connection connectExternalResetSlot(boost::signals2::connect_position position,
                                                         const FlagSignal::slot_type& slot) override
    {
        return externalReset_.connect(slot, position);
    }
    boost::signals2::connection connectPowerStateSlot(boost::signals2::connect_position position,
                                                      const FlagSignal::slot_type& slot) override
    {
        return powerState_.connect(slot, position);
    }
    boost::signals2::connection connectTargetEventSlot(boost::signals2::connect_position position,
                                                       const TargetEventSignal::slot_type& slot) override
    {
        return targetEvent_.connect(slot, position);
    }

protected:
    FlagSignal externalReset_;
    FlagSignal powerState_;
    TargetEventSignal targetEvent_;
};

} // namespace hil::bundles
