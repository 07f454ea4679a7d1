// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <mutex>

#include "core/interfaces/IMemoryContext.h"
#include "core/interfaces/IStimuliProvider.h"

namespace hil::simulator {

class SimulatedStimuliPort;

/// What a channel drives: `value` written at `address` of the memory named `space` ("data").
struct Stimulus {
    std::string space;
    std::uint64_t address = 0;
    std::vector<std::uint8_t> value;
};

/// A channel of a simulated stimuli provider: a level held on a device input, such as the bits
/// of a port's input register. It drives only ports of a simulated device. The port holds the
/// channel while attached and does the driving; the channel keeps no hold on the port, so a
/// stimulus left attached when its device goes away keeps neither alive.
class SimulatedStimuliChannel : public IStimuliChannel {
public:
    SimulatedStimuliChannel(std::string designator, Stimulus stimulus)
        : designator_(std::move(designator)), stimulus_(std::move(stimulus))
    {
    }

    std::string getDesignator() const override { return designator_; }
    bool attachPort(std::shared_ptr<IStimuliPort> port) override;
    void detachPort() override {}

    const Stimulus& stimulus() const { return stimulus_; }

private:
    const std::string designator_;
    const Stimulus stimulus_;
};

/// The stimuli input of a simulated device. Its designator is the device's id until one is
/// assigned. It takes one simulated channel at a time: attaching drives the channel's value into
/// the device's memory (announced as a memory change like any write); detaching puts back the
/// bytes that were there before.
class SimulatedStimuliPort : public IStimuliPort {
public:
    /// Finds a memory of the device by its name (the address space); null when there is none.
    using MemoryLookup = std::function<std::shared_ptr<IMemoryContext>(const std::string& space)>;

    SimulatedStimuliPort(std::string designator, MemoryLookup memories)
        : designator_(std::move(designator)), memories_(std::move(memories))
    {
    }

    bool attachChannel(std::shared_ptr<IStimuliChannel> channel) override;
    void detachChannel() override;
    std::string getDesignator() const override;
    void assignDesignator(const std::string& designator) override;

private:
    /// Writes `bytes` where the stimulus points and returns what was there; false when the
    /// memory or the address does not exist.
    bool exchange(const Stimulus& stimulus, const std::vector<std::uint8_t>& bytes, std::vector<std::uint8_t>& before);

    mutable std::mutex mutex_;
    std::string designator_;
    MemoryLookup memories_;
    std::shared_ptr<SimulatedStimuliChannel> channel_;
    std::vector<std::uint8_t> saved_;
};

/// A provider of simulated channels, made from a configuration
/// {"Channels": [{"Designator": text, "Space": text, "Address": number, "Value": [bytes]}]}.
class SimulatedStimuliProvider : public IStimuliProvider {
public:
    explicit SimulatedStimuliProvider(std::vector<std::shared_ptr<IStimuliChannel>> channels) : channels_(std::move(channels)) {}
    std::vector<std::shared_ptr<IStimuliChannel>> getChannels() override { return channels_; }

private:
    std::vector<std::shared_ptr<IStimuliChannel>> channels_;
};

/// Makes `SimulatedStimuliProvider`s; a configuration it cannot read makes none.
class SimulatedStimuliProviderFactory : public IStimuliProviderFactory {
public:
    static inline const std::string kClassName = "com.velmora.hil.simulator.stimuli";

    std::string getCategory() const override { return kStimuliProviderFactoryCategory; }
    std::string getClassName() const override { return kClassName; }
    std::shared_ptr<IStimuliProvider> createStimuliProvider(IOrixDebugger& debugger,
                                                            const boost::json::object& configuration) override;
};

} // namespace hil::simulator
