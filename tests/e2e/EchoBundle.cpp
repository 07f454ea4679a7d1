// SPDX-License-Identifier: Apache-2.0
// A bundle for end-to-end tests: the "Echo" service, whose commands let a test create contexts,
// receive progress reports and events, and keep the command thread busy.

#include <chrono>
#include <thread>

#include <Poco/ClassLibrary.h>
#include <boost/json.hpp>

#include "core/frame/CommandServerBase.h"
#include "core/frame/ServiceBase.h"
#include "core/frame/TcfServiceFactory.h"
#include "core/interfaces/BundleFactories.h"
#include "platform/common/BackendLogger.h"
#include "platform/osp/BundleActivator.h"
#include "platform/tcf/Protocol.h"
#include "tests/fakes/FakeContext.h"

namespace hil::e2e {

class EchoService : public ServiceBase<IServiceBase> {
public:
    explicit EchoService(IOrixDebugger& debugger) : ServiceBase(debugger, "Echo") {}
    ~EchoService() override { BackendLogger::info("echo", "Echo service destroyed"); }
};

class EchoCommandServer : public CommandServerBase {
public:
    EchoCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service)
        : CommandServerBase(debugger, std::move(service))
    {
        addCommand("addContext", &EchoCommandServer::handleAddContext);
        addCommand("progress", &EchoCommandServer::handleProgress);
        addCommand("emit", &EchoCommandServer::handleEmit);
        addCommand("sleep", &EchoCommandServer::handleSleep);
        addCommand("blob", &EchoCommandServer::handleBlob);
        registerServiceSignalHandlers();
    }
    ~EchoCommandServer() override { BackendLogger::info("echo", "Echo command server destroyed"); }

private:
    /// (id, parent id or ""): registers a context owned by the calling client.
    void handleAddContext(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
    {
        arguments.requireCount(2);
        const std::string id = arguments.string(0);
        auto parent = getContextOrThrow(arguments.string(1));
        registry()->addContext(fakes::makeContext(id, parent));
        results.push_back(emptyError());
    }

    /// (n): n progress reports 0..n-1, then the reply n.
    void handleProgress(const CommandArguments& arguments, tcf::IIntermediateResult& progress, Results& results)
    {
        arguments.requireCount(1);
        const int count = arguments.int32(0);
        for (int i = 0; i < count; ++i)
            progress.sendIntermediateResult({std::to_string(i)});
        results.push_back(emptyError());
        results.push_back(std::to_string(count));
    }

    /// (n, size): n "tick" events, each carrying a string of `size` bytes.
    void handleEmit(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
    {
        arguments.requireCount(2);
        const int count = arguments.int32(0);
        const std::string payload = boost::json::serialize(boost::json::value(std::string(arguments.int32(1), 'x')));
        for (int i = 0; i < count; ++i)
            tcf::Protocol::sendEvent("Echo", "tick", {std::to_string(i), payload});
        results.push_back(emptyError());
    }

    /// (size): replies a string of `size` bytes, as a big memory read would.
    void handleBlob(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
    {
        arguments.requireCount(1);
        results.push_back(emptyError());
        results.push_back(boost::json::serialize(boost::json::value(std::string(arguments.int32(0), 'x'))));
    }

    /// (ms): holds the command thread.
    void handleSleep(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
    {
        arguments.requireCount(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(arguments.int32(0)));
        results.push_back(emptyError());
    }
};

class EchoBundleActivator : public osp::BundleActivator {
public:
    void start(osp::BundleContext::Ptr context) override
    {
        BundleFactories(context).publish(
            std::make_shared<TcfServiceFactory<EchoService, EchoCommandServer>>("Echo"));
    }
    void stop(osp::BundleContext::Ptr) override {}
};

} // namespace hil::e2e

POCO_BEGIN_MANIFEST(hil::osp::BundleActivator)
POCO_EXPORT_CLASS(hil::e2e::EchoBundleActivator)
POCO_END_MANIFEST
