#include "host/BackendHost.h"

#include <iostream>

#include <Poco/Exception.h>
#include <Poco/Util/MapConfiguration.h>
#include <Poco/Util/PropertyFileConfiguration.h>

#include "core/frame/OspClassFactoryManager.h"
#include "core/frame/TcfServiceFactory.h"
#include "platform/common/BackendLogger.h"
#include "platform/osp/PreferencesService.h"
#include "platform/tcf/Protocol.h"

namespace hil::host {

namespace {

const std::string kCoreBundle = "com.velmora.hil.core";

Poco::AutoPtr<Poco::Util::AbstractConfiguration> readSettings(const std::filesystem::path& file)
{
    if (!std::filesystem::exists(file))
        return new Poco::Util::MapConfiguration;
    return new Poco::Util::PropertyFileConfiguration(file.string());
}

} // namespace

BackendHost::BackendHost(const HostOptions& options) : options_(options)
{
    try {
        platform_.bundleLoader().loadBundles(options.bundles);
        const auto preferences = std::filesystem::exists(options.preferences) ? options.preferences : "";
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
    try {
        return tcfServer_->start(options_.address, options_.port);
    } catch (const boost::system::system_error& error) {
        throw std::runtime_error("cannot listen on " + options_.address + ":" + std::to_string(options_.port) + ": " +
                                 error.code().message());
    }
}

std::vector<std::string> BackendHost::serviceNames() const
{
    std::vector<std::string> names;
    for (const auto& served : services_)
        names.push_back(served.service->getName());
    return names;
}

} // namespace hil::host
