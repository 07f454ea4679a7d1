// SPDX-License-Identifier: Apache-2.0
// The GDB remote protocol bundle: tools for targets behind GDB servers on TCP (preference
// "gdbremote.endpoints" lists where to look for them) and behind QEMU machines it starts.

#include <Poco/ClassLibrary.h>

#include "bundles/gdbremote/GdbConnections.h"
#include "bundles/gdbremote/GdbTool.h"
#include "core/interfaces/BundleFactories.h"
#include "core/interfaces/ToolFactory.h"
#include "platform/osp/BundleActivator.h"

namespace hil::gdbremote {

/// The preference listing the GDB servers polling looks for: "HOST:PORT, HOST:PORT".
inline const std::string kEndpointsPreference = "gdbremote.endpoints";

/// Makes `GdbTool`s "gdbremote-N" for the connections of this bundle.
class GdbToolFactory : public ToolFactory {
public:
    std::string getCategory() const override { return kToolFactoryCategory; }
    std::string getClassName() const override { return kGdbRemoteToolType; }
    std::string getToolName() const override { return "gdbremote"; }
    bool acceptsConnection(std::shared_ptr<IConnection> connection) override
    {
        return std::dynamic_pointer_cast<GdbConnection>(connection) != nullptr;
    }
    std::shared_ptr<IToolContext> createTool(IOrixDebugger& debugger, std::shared_ptr<IContextBase>, const std::string&,
                                             std::shared_ptr<IConnection> connection) override
    {
        auto gdbConnection = std::dynamic_pointer_cast<GdbConnection>(connection);
        if (!gdbConnection)
            return nullptr;
        return std::make_shared<GdbTool>(debugger, "gdbremote-" + std::to_string(++created_), std::move(gdbConnection));
    }

private:
    std::atomic<unsigned> created_{0};
};

class GdbRemoteBundleActivator : public osp::BundleActivator {
public:
    void start(osp::BundleContext::Ptr context) override
    {
        BundleFactories factories(context);
        factories.publish(std::make_shared<GdbToolFactory>());
        factories.publish(std::make_shared<TcpConnectionFactory>(factories.preference(kEndpointsPreference)));
        factories.publish(std::make_shared<QemuConnectionFactory>());
    }
    void stop(osp::BundleContext::Ptr) override {}
};

} // namespace hil::gdbremote

POCO_BEGIN_MANIFEST(hil::osp::BundleActivator)
POCO_EXPORT_CLASS(hil::gdbremote::GdbRemoteBundleActivator)
POCO_END_MANIFEST
