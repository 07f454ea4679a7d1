// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/json/object.hpp>
#include <boost/signals2/signal.hpp>

#include "core/interfaces/IContextBase.h"
#include "platform/common/Status.h"
#include "platform/tcf/IIntermediateResult.h"

namespace hil {

/// Something that depends on a tool and must be closed before the tool goes (a session, a
/// stream...).
class IToolDependent {
public:
    virtual ~IToolDependent() = default;
    /// Non-zero while open.
    virtual int isOpen() const = 0;
    virtual void close() = 0;
};

/// A debug probe set up over a connection, implemented by a tool bundle. Operations report
/// failure through their `Status`; the core passes it on to the client unread.
class IToolContext : public IContextBase {
public:
    using ConnectionLostSignal = boost::signals2::signal<void(std::string)>;

    virtual std::vector<std::shared_ptr<IToolDependent>> getDependents() = 0;
    /// Takes tool settings (interface, clocks, the device to use...), merging them into its own.
    virtual void setToolProperties(const boost::json::object& properties) = 0;
    /// Volts; NaN when unknown.
    virtual double getTargetVoltage() = 0;
    virtual void connect(Status& status) = 0;
    virtual void disconnect(Status& status) = 0;
    virtual std::vector<boost::json::object> detectDevices(Status& status) = 0;
    /// Reports progress through `progress` before it returns.
    virtual void startUpgrade(bool force, tcf::IIntermediateResult& progress, Status& status) = 0;
    virtual void checkFirmware(Status& status) = 0;
    virtual void setBootMode(Status& status) = 0;
    /// A raw command; `timeoutMs` bounds the wait for the probe's answer.
    virtual void genericCommand(Status& status, std::vector<std::uint8_t>& response,
                                const std::vector<std::uint8_t>& request, int timeoutMs) = 0;
    /// A text command; false when there is no response text.
    virtual bool genericStringCommand(Status& status, std::string& response, const std::string& command) = 0;
    virtual boost::json::object selfTest(Status& status) = 0;
    virtual bool calibrate(Status& status) = 0;
    /// The slot hears why the probe connection broke, on the tool module's thread.
    virtual boost::signals2::connection addConnectionLostHandler(const ConnectionLostSignal::slot_type& slot) = 0;
    virtual void specialOperation(Status& status, const std::string& operation,
                                  const boost::json::object& parameters) = 0;
};

} // namespace hil
