// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <Poco/Exception.h>
#include <gmock/gmock.h>

#include "core/interfaces/ConnectionFactory.h"
#include "core/interfaces/IAdClassFactoryManager.h"
#include "core/interfaces/ToolFactory.h"
#include "tests/fakes/FakeContext.h"

namespace hil::fakes {

/// A tool context whose operations are mocks; its connection-lost signal is real.
class FakeToolContext : public FakeContext<IToolContext> {
public:
    using FakeContext::FakeContext;

    MOCK_METHOD(std::vector<std::shared_ptr<IToolDependent>>, getDependents, (), (override));
    MOCK_METHOD(void, setToolProperties, (const boost::json::object&), (override));
    MOCK_METHOD(double, getTargetVoltage, (), (override));
    MOCK_METHOD(void, connect, (Status&), (override));
    MOCK_METHOD(void, disconnect, (Status&), (override));
    MOCK_METHOD(std::vector<boost::json::object>, detectDevices, (Status&), (override));
    MOCK_METHOD(void, startUpgrade, (bool, tcf::IIntermediateResult&, Status&), (override));
    MOCK_METHOD(void, checkFirmware, (Status&), (override));
    MOCK_METHOD(void, setBootMode, (Status&), (override));
    MOCK_METHOD(void, genericCommand, (Status&, std::vector<std::uint8_t>&, const std::vector<std::uint8_t>&, int),
                (override));
    MOCK_METHOD(bool, genericStringCommand, (Status&, std::string&, const std::string&), (override));
    MOCK_METHOD(boost::json::object, selfTest, (Status&), (override));
    MOCK_METHOD(bool, calibrate, (Status&), (override));
    MOCK_METHOD(void, specialOperation, (Status&, const std::string&, const boost::json::object&), (override));

    boost::signals2::connection addConnectionLostHandler(const ConnectionLostSignal::slot_type& slot) override
    {
        return connectionLost.connect(slot);
    }

    ConnectionLostSignal connectionLost;
};

class FakeDependent : public IToolDependent {
public:
    explicit FakeDependent(bool open) : open_(open) {}
    int isOpen() const override { return open_ ? 1 : 0; }
    void close() override
    {
        ++closed;
        open_ = false;
    }
    int closed = 0;

private:
    bool open_;
};

class FakeConnection : public IConnection {
public:
    FakeConnection(std::string type, boost::json::object properties)
        : type_(std::move(type)), properties_(std::move(properties))
    {
    }
    std::string getConnectionType() const override { return type_; }
    boost::json::object getConnectionProperties() const override { return properties_; }

private:
    std::string type_;
    boost::json::object properties_;
};

/// A tool factory whose behaviour each test sets through plain functions.
class FakeToolFactory : public ToolFactory {
public:
    FakeToolFactory(std::string className, std::string toolName = "probe")
        : className_(std::move(className)), toolName_(std::move(toolName))
    {
    }
    std::string getCategory() const override { return kToolFactoryCategory; }
    std::string getClassName() const override { return className_; }
    std::string getToolName() const override { return toolName_; }
    bool acceptsConnection(std::shared_ptr<IConnection> connection) override { return accepts(connection); }
    std::shared_ptr<IToolContext> createTool(IOrixDebugger&, std::shared_ptr<IContextBase>, const std::string& toolType,
                                             std::shared_ptr<IConnection> connection) override
    {
        createdWith.push_back(connection);
        return create ? create(toolType, connection) : nullptr;
    }

    std::function<bool(const std::shared_ptr<IConnection>&)> accepts = [](const auto&) { return false; };
    std::function<std::shared_ptr<IToolContext>(const std::string&, const std::shared_ptr<IConnection>&)> create;
    std::vector<std::shared_ptr<IConnection>> createdWith;

private:
    std::string className_;
    std::string toolName_;
};

/// A connection factory with a list of attached connections that a test (or another thread)
/// changes; `throwOnList` makes the next listings fail.
class FakeConnectionFactory : public ConnectionFactory {
public:
    explicit FakeConnectionFactory(std::string className) : className_(std::move(className)) {}
    std::string getCategory() const override { return kConnectionFactoryCategory; }
    std::string getClassName() const override { return className_; }
    std::vector<std::shared_ptr<IConnection>> getAttachedConnections() override
    {
        std::lock_guard lock(mutex_);
        ++listings_;
        if (throwOnList)
            throw std::runtime_error("enumeration failed");
        return attached_;
    }
    std::shared_ptr<IConnection> createConnection(const boost::json::object& properties) override
    {
        return createSucceeds ? std::make_shared<FakeConnection>(className_, properties) : nullptr;
    }

    void setAttached(std::vector<std::shared_ptr<IConnection>> attached)
    {
        std::lock_guard lock(mutex_);
        attached_ = std::move(attached);
    }
    int listings() const
    {
        std::lock_guard lock(mutex_);
        return listings_;
    }

    bool createSucceeds = true;
    std::atomic<bool> throwOnList{false};

private:
    std::string className_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<IConnection>> attached_;
    int listings_ = 0;
};

/// A class factory manager over a list of factories, each declared under its category and class
/// name as a bundle would declare it. Several factories may share a class name: `getFactory`
/// hands them out in turn, as a registry with several entries under one name would. A class
/// declared but never registered (its bundle did not start) fails `getFactory` as the platform
/// does, with `Poco::NullPointerException`.
class FakeFactoryManager : public IAdClassFactoryManager {
public:
    void add(std::shared_ptr<IAdClassFactory> factory) { factories.push_back(std::move(factory)); }
    void declareUnregistered(const std::string& category, const std::string& className)
    {
        unregistered.emplace_back(category, className);
    }

    std::shared_ptr<IAdClassFactory> getFactory(const std::string& className) override
    {
        std::vector<std::shared_ptr<IAdClassFactory>> named;
        for (const auto& factory : factories)
            if (factory->getClassName() == className)
                named.push_back(factory);
        if (named.empty())
            throw Poco::NullPointerException("no class factory registered as", className);
        return named[handedOut_[className]++ % named.size()];
    }
    std::vector<std::shared_ptr<IAdClassFactory>> getFactories(const std::string& category) override
    {
        std::vector<std::shared_ptr<IAdClassFactory>> found;
        for (const auto& factory : factories)
            if (factory->getCategory() == category)
                found.push_back(factory);
        return found;
    }
    std::vector<std::string> getClassNames(const std::string& category) override
    {
        std::vector<std::string> names;
        for (const auto& factory : factories)
            if (factory->getCategory() == category)
                names.push_back(factory->getClassName());
        for (const auto& [declaredCategory, className] : unregistered)
            if (declaredCategory == category)
                names.push_back(className);
        return names;
    }
    std::string getPreference(const std::string& key) override
    {
        const auto entry = preferences.find(key);
        return entry == preferences.end() ? "" : entry->second;
    }

    std::vector<std::shared_ptr<IAdClassFactory>> factories;
    std::map<std::string, std::string> preferences;
    std::vector<std::pair<std::string, std::string>> unregistered; ///< category, class name

private:
    std::map<std::string, std::size_t> handedOut_;
};

} // namespace hil::fakes
