// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include <boost/signals2/signal.hpp>

#include "core/interfaces/IContextBase.h"
#include "platform/common/IStatus.h"

namespace hil {

/// Fired with each status a message context reports; any thread may fire it.
using MessageSignal = boost::signals2::signal<void(const IStatus&)>;

/// A source of target messages, implemented by a driver bundle.
class IMessageContext : public IContextBase {
public:
    /// The name clients show as the messages' source.
    virtual std::string getSourceName() const = 0;
    virtual boost::signals2::connection addMessageHandler(const MessageSignal::slot_type& slot) = 0;
};

} // namespace hil
