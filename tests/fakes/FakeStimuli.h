// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

#include "core/interfaces/IMessageContext.h"
#include "core/interfaces/IStimuliProvider.h"
#include "tests/fakes/FakeContext.h"

namespace hil::fakes {

/// Records, in order, what the Stimuli service does to ports and channels ("port P attach C").
struct StimuliLog {
    std::vector<std::string> calls;
};

/// A port with a designator that accepts channels unless `accepts` is false.
class FakeStimuliPort : public IStimuliPort {
public:
    FakeStimuliPort(std::string name, std::string designator, StimuliLog& log)
        : name_(std::move(name)), designator_(std::move(designator)), log_(log)
    {
    }
    bool attachChannel(std::shared_ptr<IStimuliChannel> channel) override
    {
        log_.calls.push_back("port " + name_ + " attach " + channel->getDesignator());
        return accepts;
    }
    void detachChannel() override { log_.calls.push_back("port " + name_ + " detach"); }
    std::string getDesignator() const override { return designator_; }
    void assignDesignator(const std::string& designator) override { designator_ = designator; }

    bool accepts = true;

private:
    std::string name_;
    std::string designator_;
    StimuliLog& log_;
};

/// A channel with a designator that attaches to any port unless `attaches` is false.
class FakeStimuliChannel : public IStimuliChannel {
public:
    FakeStimuliChannel(std::string name, std::string designator, StimuliLog& log)
        : name_(std::move(name)), designator_(std::move(designator)), log_(log)
    {
    }
    std::string getDesignator() const override { return designator_; }
    bool attachPort(std::shared_ptr<IStimuliPort> port) override
    {
        log_.calls.push_back("channel " + name_ + " attach " + port->getDesignator());
        return attaches;
    }
    void detachPort() override { log_.calls.push_back("channel " + name_ + " detach"); }

    bool attaches = true;

private:
    std::string name_;
    std::string designator_;
    StimuliLog& log_;
};

class FakeStimuliProvider : public IStimuliProvider {
public:
    std::vector<std::shared_ptr<IStimuliChannel>> getChannels() override { return channels; }
    std::vector<std::shared_ptr<IStimuliChannel>> channels;
};

/// A provider factory whose `make` the test sets; it keeps the configurations it was given.
class FakeStimuliProviderFactory : public IStimuliProviderFactory {
public:
    explicit FakeStimuliProviderFactory(std::string className) : className_(std::move(className)) {}
    std::string getCategory() const override { return kStimuliProviderFactoryCategory; }
    std::string getClassName() const override { return className_; }
    std::shared_ptr<IStimuliProvider> createStimuliProvider(IOrixDebugger&, const boost::json::object& configuration) override
    {
        configurations.push_back(configuration);
        return make ? make() : nullptr;
    }

    std::function<std::shared_ptr<IStimuliProvider>()> make;
    std::vector<boost::json::object> configurations;

private:
    std::string className_;
};

/// A message context with a real message signal, so that a test fires it.
class FakeMessageContext : public FakeContext<IMessageContext> {
public:
    using FakeContext::FakeContext;
    std::string getSourceName() const override { return sourceName; }
    boost::signals2::connection addMessageHandler(const MessageSignal::slot_type& slot) override
    {
        return messages.connect(slot);
    }

    std::string sourceName = "source";
    MessageSignal messages;
};

} // namespace hil::fakes
