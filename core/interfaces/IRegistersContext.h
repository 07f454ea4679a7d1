// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "core/interfaces/IContextBase.h"

namespace hil {

class IRegistersContext;

/// Fired after a register's value changed; any thread may fire it.
using RegisterChangedSignal = boost::signals2::signal<void(std::shared_ptr<IRegistersContext>)>;

/// One register of a target, implemented by a driver bundle. Its value is `getSize` bytes in
/// the order the context defines; failures are thrown.
class IRegistersContext : public IContextBase {
public:
    virtual int getSize() const = 0;
    /// Fills `value`, which already holds `getSize` bytes.
    virtual void getValue(std::vector<std::uint8_t>& value) = 0;
    virtual void setValue(const std::vector<std::uint8_t>& value) = 0;
    virtual boost::signals2::connection addRegisterChangedHandler(const RegisterChangedSignal::slot_type& slot) = 0;
};

} // namespace hil
