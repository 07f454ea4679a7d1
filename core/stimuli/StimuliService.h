// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>

#include "core/frame/ServiceBase.h"
#include "core/interfaces/IDeviceContext.h"
#include "core/interfaces/IStimuliService.h"

namespace hil {

/// The "Stimuli" service.
///
/// It keeps the providers given to it, in order (duplicates allowed), and the bindings `connect`
/// made, by provider; the two are independent: `connect` works on any provider, and removing a
/// provider leaves its bindings. Not thread safe: the caller's thread owns both lists.
class StimuliService : public ServiceBase<IStimuliService> {
public:
    explicit StimuliService(IOrixDebugger& debugger) : ServiceBase(debugger, "Stimuli") {}

    std::vector<std::string> getSupportedStimuliTypes() override;
    /// Tries each factory declared under exactly `type`, in order, until one makes a provider.
    /// Without a factory manager the status says so (0x2001F) and the error is logged.
    std::shared_ptr<IStimuliProvider> setupProvider(Status& status, const std::string& type,
                                                    const boost::json::object& configuration) override;
    void addStimuliProvider(std::shared_ptr<IStimuliProvider> provider) override;
    /// Removes the first entry of that provider; nothing when there is none.
    void removeStimuliProvider(const std::shared_ptr<IStimuliProvider>& provider) override;
    std::vector<std::shared_ptr<IStimuliProvider>> getStimuliProviders() const override;
    /// Pairs every channel with the port of each top-level device of the same designator. A
    /// device whose port refuses a channel is left at once; when some bindings were made and
    /// some refused, all of the provider's bindings are undone and the result is false.
    bool connect(const std::shared_ptr<IStimuliProvider>& provider) override;
    bool disconnect(const std::shared_ptr<IStimuliProvider>& provider) override;
    /// Throws the "Invalid context" status (code 16) for an id that names no device context,
    /// and a status (0x20030) for a device without a stimuli port.
    void setDesignator(const std::string& deviceId, const std::string& designator) override;

private:
    using Binding = std::pair<std::shared_ptr<IStimuliChannel>, std::shared_ptr<IStimuliPort>>;

    std::vector<std::shared_ptr<IDeviceContext>> getDeviceChildren(const std::shared_ptr<IDeviceContext>& parent) const;

    std::vector<std::shared_ptr<IStimuliProvider>> providers_;
    std::multimap<std::shared_ptr<IStimuliProvider>, Binding, std::owner_less<std::shared_ptr<IStimuliProvider>>> connections_;
};

} // namespace hil
