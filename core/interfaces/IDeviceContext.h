// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <boost/json/value.hpp>
#include <boost/signals2/signal.hpp>

#include "core/interfaces/IContextBase.h"
#include "core/interfaces/IStimuliProvider.h"
#include "platform/common/Status.h"

namespace hil {

/// What a device context reports when a session starts.
struct SessionStartInfo {
    std::uint32_t jtagId = 0;
    std::uint32_t signature = 0;
    std::uint32_t reserved = 0;
    /// 0xFF when the device reports none.
    std::uint8_t revision = 0xFF;
    std::uint8_t spare = 0;
};

/// A target device behind a tool, implemented by a driver bundle. The meaning of session kinds,
/// erase types, info and property selectors and special operations belongs to the driver.
class IDeviceContext : public IContextBase {
public:
    using FlagSignal = boost::signals2::signal<void(bool)>;
    using TargetEventSignal = boost::signals2::signal<void(const std::vector<std::uint8_t>&)>;

    /// Session kinds the core asks for.
    static constexpr int kProgrammingSession = 1;
    static constexpr int kDebuggingSession = 2;

    /// Null when the device reports nothing about itself.
    virtual std::shared_ptr<SessionStartInfo> startSession(Status& status, int kind, bool resetTarget,
                                                           std::shared_ptr<void> options) = 0;
    /// False when the session could not be ended.
    virtual bool endSession() = 0;
    virtual void erase(int eraseType, bool verify, std::uint64_t address, int count) = 0;
    virtual void getInfo(boost::json::value& info, int selector) = 0;
    virtual void runSpecialOperation(Status& status, int operation) = 0;
    /// The slot hears a reset of the target from outside (true when it began).
    virtual boost::signals2::connection connectExternalResetSlot(boost::signals2::connect_position position,
                                                                 const FlagSignal::slot_type& slot) = 0;
    /// The slot hears the target's power going on (true) or off.
    virtual boost::signals2::connection connectPowerStateSlot(boost::signals2::connect_position position,
                                                              const FlagSignal::slot_type& slot) = 0;
    /// The slot hears the raw bytes of an event the target reports.
    virtual boost::signals2::connection connectTargetEventSlot(boost::signals2::connect_position position,
                                                               const TargetEventSignal::slot_type& slot) = 0;
    virtual void getProperty(boost::json::value& property, int selector) = 0;
    /// The device's input for stimuli; null when it has none.
    virtual std::shared_ptr<IStimuliPort> getStimuliPort() = 0;
};

} // namespace hil
