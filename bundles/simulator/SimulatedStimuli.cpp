// SPDX-License-Identifier: Apache-2.0
#include "bundles/simulator/SimulatedStimuli.h"

namespace hil::simulator {

namespace {

/// Reads one channel of a configuration; false when a key is missing or of the wrong kind.
bool readChannel(const boost::json::value& entry, std::string& designator, Stimulus& stimulus)
{
    const auto* fields = entry.if_object();
    if (!fields)
        return false;
    const auto* name = fields->if_contains("Designator");
    const auto* space = fields->if_contains("Space");
    const auto* address = fields->if_contains("Address");
    const auto* value = fields->if_contains("Value");
    if (!name || !name->is_string() || !space || !space->is_string() || !address || !value || !value->is_array())
        return false;
    boost::system::error_code error;
    stimulus.address = address->to_number<std::uint64_t>(error);
    if (error)
        return false;
    for (const auto& byte : value->get_array()) {
        const auto number = byte.to_number<std::int64_t>(error);
        if (error || number < 0 || number > 0xFF)
            return false;
        stimulus.value.push_back(static_cast<std::uint8_t>(number));
    }
    designator = std::string(name->get_string());
    stimulus.space = std::string(space->get_string());
    return !stimulus.value.empty();
}

} // namespace

bool SimulatedStimuliChannel::attachPort(std::shared_ptr<IStimuliPort> port)
{
    return std::dynamic_pointer_cast<SimulatedStimuliPort>(port) != nullptr;
}

bool SimulatedStimuliPort::attachChannel(std::shared_ptr<IStimuliChannel> channel)
{
    auto simulated = std::dynamic_pointer_cast<SimulatedStimuliChannel>(channel);
    std::lock_guard lock(mutex_);
    if (!simulated || channel_)
        return false;
    std::vector<std::uint8_t> before;
    if (!exchange(simulated->stimulus(), simulated->stimulus().value, before))
        return false;
    channel_ = std::move(simulated);
    saved_ = std::move(before);
    return true;
}

void SimulatedStimuliPort::detachChannel()
{
    std::lock_guard lock(mutex_);
    if (!channel_)
        return;
    std::vector<std::uint8_t> driven;
    exchange(channel_->stimulus(), saved_, driven);
    channel_.reset();
    saved_.clear();
}

bool SimulatedStimuliPort::exchange(const Stimulus& stimulus, const std::vector<std::uint8_t>& bytes,
                                    std::vector<std::uint8_t>& before)
{
    const auto memory = memories_(stimulus.space);
    if (!memory)
        return false;
    const auto count = static_cast<std::int64_t>(bytes.size());
    before.assign(bytes.size(), 0);
    MemoryErrorMapPtr errors;
    memory->readMemory(stimulus.address, 1, before, 0, count, 0, nullptr, errors);
    if (errors)
        return false;
    std::vector<std::uint8_t> written = bytes;
    memory->writeMemory(stimulus.address, 1, written, 0, count, 0, nullptr, errors);
    return !errors;
}

std::string SimulatedStimuliPort::getDesignator() const
{
    std::lock_guard lock(mutex_);
    return designator_;
}

void SimulatedStimuliPort::assignDesignator(const std::string& designator)
{
    std::lock_guard lock(mutex_);
    designator_ = designator;
}

std::shared_ptr<IStimuliProvider> SimulatedStimuliProviderFactory::createStimuliProvider(IOrixDebugger&,
                                                                                        const boost::json::object& configuration)
{
    const auto* entries = configuration.if_contains("Channels");
    if (!entries || !entries->is_array() || entries->get_array().empty())
        return nullptr;
    std::vector<std::shared_ptr<IStimuliChannel>> channels;
    for (const auto& entry : entries->get_array()) {
        std::string designator;
        Stimulus stimulus;
        if (!readChannel(entry, designator, stimulus))
            return nullptr;
        channels.push_back(std::make_shared<SimulatedStimuliChannel>(std::move(designator), std::move(stimulus)));
    }
    return std::make_shared<SimulatedStimuliProvider>(std::move(channels));
}

} // namespace hil::simulator
