// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gmock/gmock.h>

#include <mutex>
#include <tuple>
#include <vector>

#include "bundles/common/DeviceSignals.h"
#include "core/interfaces/IRunControl.h"
#include "platform/common/Errors.h"
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

/// A device with run control that runs nothing: it records the stop points planted and removed,
/// takes a halt, a resume and a step as orders, and stops when the test says (`stop`).
class FakeRunControlDevice : public FakeDeviceContext, public IRunControl {
public:
    using FakeDeviceContext::FakeDeviceContext;
    using StopPointCall = std::tuple<StopPointKind, std::uint64_t, bool>;

    /// A breakpoint of `kind` is taken as the other kind, as a server that refuses it does.
    void refuse(StopPointKind kind) { refused_ = kind; }
    /// No stop point can be planted at `address`: the target says so.
    void refuseAddress(std::uint64_t address) { refusedAddress_ = address; }
    /// The target stops as told.
    void stop(const TargetStop& stop)
    {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
            lastStop_ = stop;
        }
        stopped_(stop);
    }
    /// Every stop point change asked, in order.
    std::vector<StopPointCall> stopPointCalls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    int resumes() const
    {
        std::lock_guard lock(mutex_);
        return resumes_;
    }

    bool isRunning() const override
    {
        std::lock_guard lock(mutex_);
        return running_;
    }
    std::optional<std::string> lostReason() const override { return std::nullopt; }
    std::optional<TargetStop> lastStop() const override
    {
        std::lock_guard lock(mutex_);
        return running_ ? std::nullopt : lastStop_;
    }
    void halt() override { stop({StopReason::Suspended, 0x100, {}, 2, "halted"}); }
    void resume() override
    {
        {
            std::lock_guard lock(mutex_);
            if (running_)
                return;
            running_ = true;
            ++resumes_;
        }
        resumed_();
    }
    void step() override { stop({StopReason::Step, 0x102, {}, 5, "step"}); }
    void reset(bool) override {}
    StopPointKind setStopPoint(StopPointKind kind, std::uint64_t address, std::uint64_t, bool on) override
    {
        std::lock_guard lock(mutex_);
        calls_.emplace_back(kind, address, on);
        if (refusedAddress_ == address)
            throw TargetError("Setting a stop point at " + std::to_string(address) + " failed: error 0x0e");
        if (refused_ == kind)
            return kind == StopPointKind::SoftwareBreakpoint ? StopPointKind::HardwareBreakpoint : StopPointKind::SoftwareBreakpoint;
        return kind;
    }
    boost::signals2::connection connectStopped(const StoppedSignal::slot_type& slot) override { return stopped_.connect(slot); }
    boost::signals2::connection connectResumed(const ResumedSignal::slot_type& slot) override { return resumed_.connect(slot); }

private:
    mutable std::mutex mutex_;
    bool running_ = false;
    int resumes_ = 0;
    std::optional<TargetStop> lastStop_;
    std::optional<StopPointKind> refused_;
    std::optional<std::uint64_t> refusedAddress_;
    std::vector<StopPointCall> calls_;
    StoppedSignal stopped_;
    ResumedSignal resumed_;
};

} // namespace hil::fakes
