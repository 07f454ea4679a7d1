// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <boost/json/object.hpp>
#include <boost/signals2/signal.hpp>

namespace hil {

/// A tool that tells when its properties are set, so that a bundle of the back-end's own can
/// follow a setting meant for it (a GDB server's port) without the Tool service knowing of it.
/// The drivers' tools implement it; a bundle finds it by casting the tool context.
class IObservableTool {
public:
    using PropertiesSetSignal = boost::signals2::signal<void(const boost::json::object& set)>;

    virtual ~IObservableTool() = default;
    /// The slot hears the properties just set, as given, on the thread that set them and with the
    /// tool unlocked: it may set properties in turn (and then hears those).
    virtual boost::signals2::connection connectPropertiesSet(const PropertiesSetSignal::slot_type& slot) = 0;
};

} // namespace hil
