// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/interfaces/IService.h"
#include "core/interfaces/IStimuliProvider.h"
#include "platform/common/Status.h"

namespace hil {

/// The Stimuli service: makes stimuli providers through their factories, keeps those it is given,
/// and binds their channels to the device ports of the same designator.
class IStimuliService : public IServiceBase {
public:
    /// The provider types the factories declare, in the factory manager's order.
    virtual std::vector<std::string> getSupportedStimuliTypes() = 0;
    /// A provider of `type` made with `configuration` and added; null when none was made.
    virtual std::shared_ptr<IStimuliProvider> setupProvider(Status& status, const std::string& type,
                                                            const boost::json::object& configuration) = 0;
    virtual void addStimuliProvider(std::shared_ptr<IStimuliProvider> provider) = 0;
    virtual void removeStimuliProvider(const std::shared_ptr<IStimuliProvider>& provider) = 0;
    virtual std::vector<std::shared_ptr<IStimuliProvider>> getStimuliProviders() const = 0;
    /// Binds each channel to every device port of its designator; all or nothing.
    virtual bool connect(const std::shared_ptr<IStimuliProvider>& provider) = 0;
    /// Undoes every binding of `provider`; false when it had none.
    virtual bool disconnect(const std::shared_ptr<IStimuliProvider>& provider) = 0;
    /// Gives the stimuli port of the device context `deviceId` its designator.
    virtual void setDesignator(const std::string& deviceId, const std::string& designator) = 0;
};

} // namespace hil
