// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <vector>

#include "core/interfaces/ICommandServer.h"
#include "core/interfaces/IService.h"
#include "host/HostDebugger.h"
#include "host/HostOptions.h"
#include "platform/discovery/DiscoveryAgent.h"
#include "platform/osp/OSPSubsystem.h"
#include "platform/tcf/TcfServer.h"

namespace hil::host {

/// The back-end: the service platform with its bundles, the debugger object, every TCF service
/// with its command server, and the TCF server that carries them.
///
/// Destruction runs in the reverse order of construction, so that no object outlives the code of
/// the bundle that made it: the TCF server stops first, then servers and services go, and the
/// bundles' libraries are unloaded last.
class BackendHost {
public:
    /// Loads the bundles, starts the core bundle, creates every service. Throws
    /// `std::runtime_error` with a readable reason when the back-end cannot be set up.
    explicit BackendHost(const HostOptions& options);
    ~BackendHost();

    /// Starts listening, then (as the options say) advertises the back-end through discovery;
    /// returns the port bound. A discovery socket that cannot be bound is logged, not thrown.
    std::uint16_t start();

    /// The names of the services the back-end serves, in creation order.
    std::vector<std::string> serviceNames() const;

private:
    /// What discovery says of this back-end listening on `port`.
    discovery::PeerAttributes peerAttributes(std::uint16_t port) const;
    struct ServedService {
        std::shared_ptr<IService> service;
        std::shared_ptr<ICommandServer> commandServer;
    };

    void createServices();

    HostOptions options_;
    osp::OSPSubsystem platform_;
    std::shared_ptr<HostDebugger> debugger_;
    std::vector<ServedService> services_;
    std::shared_ptr<tcf::TcfServer> tcfServer_;
    std::unique_ptr<discovery::DiscoveryAgent> discovery_;
};

} // namespace hil::host
