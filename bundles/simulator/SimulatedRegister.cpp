// SPDX-License-Identifier: Apache-2.0
#include "bundles/simulator/SimulatedRegister.h"

#include <algorithm>
#include <stdexcept>

#include "core/interfaces/PropertyKeys.h"
#include "platform/common/Errors.h"

namespace hil::simulator {

namespace {

namespace Role = keys::RegisterRole;
namespace RegisterKey = keys::RegisterKey;

std::vector<RegisterLayout> generalRegisters(int count, int size)
{
    std::vector<RegisterLayout> registers;
    for (int number = 0; number < count; ++number)
        registers.push_back({"R" + std::to_string(number), size, ""});
    return registers;
}

} // namespace

std::vector<RegisterLayout> cpuRegistersOf(const std::string& architecture)
{
    if (architecture.rfind("ORIX8", 0) == 0) {
        auto registers = generalRegisters(32, 1);
        registers.insert(registers.end(), {{"SREG", 1, Role::SREG}, {"SP", 2, Role::SP}, {"PC", 2, Role::PC}});
        return registers;
    }
    if (architecture.rfind("ORIX32", 0) == 0 || architecture.rfind("CORTEX-M", 0) == 0) {
        auto registers = generalRegisters(13, 4);
        registers.insert(registers.end(),
                         {{"SP", 4, Role::SP}, {"LR", 4, Role::RET}, {"PC", 4, Role::PC}, {"xPSR", 4, Role::SREG}});
        return registers;
    }
    return {};
}

SimulatedRegister::SimulatedRegister(std::string id, std::weak_ptr<IContextBase> device, std::string deviceId,
                                     RegisterLayout layout)
    : TargetContext(std::move(id), std::move(device), std::move(deviceId)),
      layout_(std::move(layout)),
      value_(static_cast<std::size_t>(layout_.size), 0)
{
}

boost::json::object SimulatedRegister::getProperties() const
{
    boost::json::object properties{{RegisterKey::ID, id_},
                                   {RegisterKey::ParentID, parentId_},
                                   {RegisterKey::Name, layout_.name},
                                   {RegisterKey::Size, layout_.size},
                                   {RegisterKey::Readable, true},
                                   {RegisterKey::Writeable, true},
                                   {RegisterKey::BigEndian, false}};
    if (!layout_.role.empty())
        properties[RegisterKey::Role] = layout_.role;
    return properties;
}

void SimulatedRegister::getValue(std::vector<std::uint8_t>& value)
{
    std::lock_guard lock(mutex_);
    std::copy_n(value_.begin(), std::min(value.size(), value_.size()), value.begin());
}

void SimulatedRegister::setValue(const std::vector<std::uint8_t>& value)
{
    if (value.size() != value_.size())
        throw UsageError("register " + layout_.name + " takes " + std::to_string(value_.size()) +
                                    " bytes, not " + std::to_string(value.size()));
    {
        std::lock_guard lock(mutex_);
        value_ = value;
    }
    registerChanged_(shared_from_this());
}

boost::signals2::connection SimulatedRegister::addRegisterChangedHandler(const RegisterChangedSignal::slot_type& slot)
{
    return registerChanged_.connect(slot);
}

} // namespace hil::simulator
