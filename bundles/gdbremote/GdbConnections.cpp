// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbremote/GdbConnections.h"


#include <boost/algorithm/string/trim.hpp>

#include "bundles/gdbremote/QemuProcess.h"
#include "bundles/gdbremote/RspClient.h"
#include "platform/common/TextNumbers.h"

namespace hil::gdbremote {

namespace {

const std::string kHost = "Host";
const std::string kPort = "Port";
constexpr auto kProbeTimeout = std::chrono::milliseconds(500);

std::uint16_t portOf(const boost::json::value* value)
{
    if (!value)
        return 0;
    std::int64_t port = 0;
    if (value->is_int64())
        port = value->get_int64();
    else if (value->is_uint64())
        port = static_cast<std::int64_t>(std::min<std::uint64_t>(value->get_uint64(), 0x10000));
    else if (value->is_string())
        port = static_cast<std::int64_t>(std::min<std::uint64_t>(parseDigits(value->get_string(), 10).value_or(0), 0x10000));
    return port > 0 && port <= 0xFFFF ? static_cast<std::uint16_t>(port) : 0;
}

} // namespace

std::string GdbConnection::text(const std::string& key, const std::string& fallback) const
{
    const auto* value = properties_.if_contains(key);
    return value && value->is_string() && !value->get_string().empty() ? std::string(value->get_string()) : fallback;
}

std::uint16_t GdbConnection::port() const { return portOf(properties_.if_contains(kPort)); }

std::vector<Endpoint> parseEndpoints(const std::string& list)
{
    std::vector<Endpoint> endpoints;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(',', start), list.size());
        if (const auto parsed = parseHostPort(boost::algorithm::trim_copy(list.substr(start, end - start))))
            endpoints.push_back({parsed->host, parsed->port});
        start = end + 1;
    }
    return endpoints;
}

EndpointsInUse& EndpointsInUse::instance()
{
    static EndpointsInUse endpoints;
    return endpoints;
}

void EndpointsInUse::add(const std::string& endpoint)
{
    std::lock_guard lock(mutex_);
    endpoints_.insert(endpoint);
}

void EndpointsInUse::remove(const std::string& endpoint)
{
    std::lock_guard lock(mutex_);
    if (const auto found = endpoints_.find(endpoint); found != endpoints_.end())
        endpoints_.erase(found);
}

bool EndpointsInUse::contains(const std::string& endpoint) const
{
    std::lock_guard lock(mutex_);
    return endpoints_.count(endpoint) > 0;
}

std::vector<std::shared_ptr<IConnection>> TcpConnectionFactory::getAttachedConnections()
{
    std::vector<std::shared_ptr<IConnection>> attached;
    for (const auto& endpoint : endpoints_) {
        bool answers = EndpointsInUse::instance().contains(endpoint.text());
        if (!answers) {
            try {
                RspClient probe(endpoint.host, endpoint.port, {kProbeTimeout, 1u << 16});
                answers = true;
            } catch (const std::exception&) {
                // not there, or not a GDB server: not attached
            }
        }
        if (answers)
            attached.push_back(std::make_shared<GdbConnection>(
                kTcpConnectionType, boost::json::object{{kHost, endpoint.host}, {kPort, endpoint.port}}));
    }
    return attached;
}

std::shared_ptr<IConnection> TcpConnectionFactory::createConnection(const boost::json::object& properties)
{
    const auto port = portOf(properties.if_contains(kPort));
    if (port == 0)
        return nullptr;
    const auto* host = properties.if_contains(kHost);
    if (host && (!host->is_string() || host->get_string().empty()))
        return nullptr;
    return std::make_shared<GdbConnection>(
        kTcpConnectionType,
        boost::json::object{{kHost, host ? std::string(host->get_string()) : std::string("127.0.0.1")}, {kPort, port}});
}

std::vector<std::shared_ptr<IConnection>> QemuConnectionFactory::getAttachedConnections()
{
    if (QemuProcess::executable().empty())
        return {};
    return {std::make_shared<GdbConnection>(kQemuConnectionType, boost::json::object{{kMachineProperty, kDefaultQemuMachine}})};
}

std::shared_ptr<IConnection> QemuConnectionFactory::createConnection(const boost::json::object& properties)
{
    boost::json::object kept{{kMachineProperty, kDefaultQemuMachine}};
    for (const auto& key : {kMachineProperty, kKernelProperty}) {
        const auto* value = properties.if_contains(key);
        if (!value)
            continue;
        if (!value->is_string())
            return nullptr;
        kept[key] = *value;
    }
    return std::make_shared<GdbConnection>(kQemuConnectionType, std::move(kept));
}

} // namespace hil::gdbremote
