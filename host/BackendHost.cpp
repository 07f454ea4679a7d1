// SPDX-License-Identifier: Apache-2.0
#include "host/BackendHost.h"

#include <cstdlib>
#include <iostream>

#include <sys/utsname.h>
#include <unistd.h>

#include <Poco/Exception.h>
#include <Poco/Util/MapConfiguration.h>

#include "core/frame/OspClassFactoryManager.h"
#include "core/interfaces/ITcfServiceFactory.h"
#include "host/HostPreferences.h"
#include "platform/common/BackendLogger.h"
#include "platform/osp/PreferencesService.h"
#include "platform/osp/PropertiesFile.h"
#include "platform/tcf/Protocol.h"

namespace hil::host {

namespace {

const std::string kCoreBundle = "com.velmora.hil.core";

Poco::AutoPtr<Poco::Util::AbstractConfiguration> readSettings(const std::filesystem::path& file)
{
    if (!std::filesystem::exists(file))
        return new Poco::Util::MapConfiguration;
    return osp::readPropertiesFile(file);
}

} // namespace

BackendHost::BackendHost(const HostOptions& options) : options_(options)
{
    try {
        platform_.bundleLoader().loadBundles(options.bundles);
        auto preferences = readPreferences({options.shippedPreferences, options.preferences}, std::getenv);
        if (options.gdbServerFirstPort) {
            // The command line wins over every preference file.
            preferences->setString("gdbserver.firstPort", std::to_string(*options.gdbServerFirstPort));
            preferences->setString("gdbserver.address", options.gdbServerAddress);
        }
        platform_.serviceRegistry().registerService(osp::PreferencesService::SERVICE_NAME,
                                                    new osp::PreferencesService(preferences), {});
        auto core = platform_.bundleLoader().findBundle(kCoreBundle);
        if (!core)
            throw std::runtime_error("no bundle " + kCoreBundle + " in " + options.bundles.string());
        core->start();
        debugger_ = std::make_shared<HostDebugger>(std::make_shared<OspClassFactoryManager>(platform_),
                                                   readSettings(options.settings));
    } catch (const Poco::Exception& error) {
        throw std::runtime_error(error.displayText());
    }
    tcfServer_ = std::make_shared<tcf::TcfServer>(options.limits);
    createServices();
}

BackendHost::~BackendHost()
{
    discovery_.reset(); // the goodbye goes out while the back-end can still be reached
    tcfServer_->stop();
    tcf::Protocol::setEventSink(nullptr);
    // Command servers first: they listen to their services' signals.
    for (auto& served : services_)
        served.commandServer.reset();
    debugger_->clearServices();
    services_.clear();
    BackendLogger::info("", "Every service released");
}

void BackendHost::createServices()
{
    for (const auto& factory : debugger_->getClassFactoryManager()->getFactories(kTcfServiceFactoryCategory)) {
        const auto serviceFactory = std::dynamic_pointer_cast<ITcfServiceFactory>(factory);
        if (!serviceFactory) {
            BackendLogger::error("", factory->getClassName() + " is not a TCF service factory; passed over");
            continue;
        }
        auto service = serviceFactory->createService(*debugger_);
        auto commandServer = serviceFactory->createCommandServer(*debugger_, service);
        tcfServer_->registerService(serviceFactory->getServiceName(),
                                    [commandServer](tcf::ICommandChannel& channel, const tcf::Token& token,
                                                    const std::string& command, const std::vector<std::string>& arguments) {
                                        commandServer->handleCommand(channel, token, command, arguments);
                                    });
        debugger_->addService(service);
        services_.push_back({std::move(service), std::move(commandServer)});
    }
    // A client that goes away takes its contexts (and tools) with it.
    tcfServer_->setChannelClosedHandler([this](int channelId) {
        for (const auto& served : services_)
            served.service->cleanup(channelId);
    });
}

std::uint16_t BackendHost::start()
{
    tcf::Protocol::setEventSink(tcfServer_);
    std::uint16_t port = 0;
    try {
        port = tcfServer_->start(options_.address, options_.port);
    } catch (const boost::system::system_error& error) {
        throw std::runtime_error("cannot listen on " + options_.address + ":" + std::to_string(options_.port) + ": " +
                                 error.code().message());
    }
    if (options_.discovery.value_or(isLoopbackAddress(options_.address))) {
        try {
            discovery_ = std::make_unique<discovery::DiscoveryAgent>(
                peerAttributes(port), discovery::DiscoveryAgent::Options{options_.address, options_.discoveryPort});
        } catch (const std::exception& error) {
            BackendLogger::error("discovery", error.what());
        }
    }
    return port;
}

discovery::PeerAttributes BackendHost::peerAttributes(std::uint16_t port) const
{
    utsname system{};
    uname(&system);
    const char* user = std::getenv("USER");
    std::string services = "Locator";
    for (const auto& name : serviceNames())
        services += "," + name;
    const std::string endpoint = options_.address + ":" + std::to_string(port);
    return {{"ID", "TCP:" + endpoint},
            {"Name", "hilcore-backend"},
            {"OSName", std::string(system.sysname) + " " + system.release},
            {"UserName", user ? user : ""},
            {"AgentID", "hilcore-" + std::string(system.nodename) + "-" + std::to_string(getpid())},
            {"TransportName", "TCP"},
            {"Host", options_.address},
            {"Port", std::to_string(port)},
            {"Services", services}};
}

std::vector<std::string> BackendHost::serviceNames() const
{
    std::vector<std::string> names;
    for (const auto& served : services_)
        names.push_back(served.service->getName());
    return names;
}

} // namespace hil::host
