// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <mutex>

#include "bundles/common/TargetContext.h"
#include "core/interfaces/IRegistersContext.h"

namespace hil::simulator {

/// The CPU registers a simulated device of an architecture has: name, size in bytes and role
/// ("" for a general register). ORIX8 devices: R0 to R31, "SREG", "SP" (2 bytes) and "PC"
/// (2 bytes); ORIX32 and Cortex-M devices: R0 to R12, "SP", "LR", "PC" and "xPSR", 4 bytes each.
/// Other architectures have none.
struct RegisterLayout {
    std::string name;
    int size;
    std::string role;
};
std::vector<RegisterLayout> cpuRegistersOf(const std::string& architecture);

/// One CPU register of a simulated device. Its value is `Size` bytes, least significant first,
/// zero at the start; a write must give exactly `Size` bytes, and fires register-changed after
/// the value is stored.
class SimulatedRegister : public bundles::TargetContext<IRegistersContext>,
                          public std::enable_shared_from_this<SimulatedRegister> {
public:
    SimulatedRegister(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId, RegisterLayout layout);

    boost::json::object getProperties() const override;
    std::string getKind() const override { return "register"; }

    int getSize() const override { return layout_.size; }
    void getValue(std::vector<std::uint8_t>& value) override;
    void setValue(const std::vector<std::uint8_t>& value) override;
    boost::signals2::connection addRegisterChangedHandler(const RegisterChangedSignal::slot_type& slot) override;

private:
    const RegisterLayout layout_;
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> value_;
    RegisterChangedSignal registerChanged_;
};

} // namespace hil::simulator
