// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <boost/json/object.hpp>

#include "core/interfaces/IAdClassFactory.h"

namespace hil {

class IOrixDebugger;
class IStimuliChannel;

/// Category of the factories that make stimuli providers.
inline const std::string kStimuliProviderFactoryCategory = "stimuliproviderfactory";

/// A device's input for stimuli. Its designator names it; a channel of the same designator is
/// bound to it.
class IStimuliPort {
public:
    virtual ~IStimuliPort() = default;
    /// False when the port refuses the channel.
    virtual bool attachChannel(std::shared_ptr<IStimuliChannel> channel) = 0;
    virtual void detachChannel() = 0;
    virtual std::string getDesignator() const = 0;
    virtual void assignDesignator(const std::string& designator) = 0;
};

/// One signal a provider feeds, named by its designator.
class IStimuliChannel {
public:
    virtual ~IStimuliChannel() = default;
    virtual std::string getDesignator() const = 0;
    /// False when the channel cannot drive that port.
    virtual bool attachPort(std::shared_ptr<IStimuliPort> port) = 0;
    virtual void detachPort() = 0;
};

/// A source of stimuli: a set of channels.
class IStimuliProvider {
public:
    virtual ~IStimuliProvider() = default;
    virtual std::vector<std::shared_ptr<IStimuliChannel>> getChannels() = 0;
};

/// Makes stimuli providers of its class name's type.
class IStimuliProviderFactory : public IAdClassFactory {
public:
    /// The provider `configuration` describes; null when it cannot make one.
    virtual std::shared_ptr<IStimuliProvider> createStimuliProvider(IOrixDebugger& debugger,
                                                                    const boost::json::object& configuration) = 0;
};

} // namespace hil
