// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "bundles/common/DeviceSignals.h"
#include "bundles/common/TargetContext.h"

namespace hil::bundles {

/// What every driver's target device shares: a "device" context without a parent (its tool
/// lives in another service), with the three signals the Device service's handlers connect to.
class DriverDevice : public DeviceSignals<TargetContext<IDeviceContext>> {
public:
    explicit DriverDevice(std::string id) : DeviceSignals(std::move(id), {}, "") {}

    std::string getKind() const override { return "device"; }
    /// A device without numbered properties or a stimuli port keeps these.
    void getProperty(boost::json::value& property, int) override { property = nullptr; }
    std::shared_ptr<IStimuliPort> getStimuliPort() override { return nullptr; }
};

} // namespace hil::bundles
