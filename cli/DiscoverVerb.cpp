// SPDX-License-Identifier: Apache-2.0
// discover: the back-ends that answer TCF UDP discovery.


#include <boost/json.hpp>

#include "cli/CliCommands.h"
#include "platform/common/TextNumbers.h"
#include "platform/discovery/DiscoveryAgent.h"

namespace hil::cli {

namespace {

/// The number after `option`, within [1, most].
unsigned long numberAfter(const std::vector<std::string>& arguments, std::size_t at, const std::string& option,
                          unsigned long most)
{
    const auto value = parseDigits(at + 1 < arguments.size() ? arguments[at + 1] : "", 10);
    if (!value || *value == 0 || *value > most)
        throw UsageError("discover " + option + " needs a number from 1 to " + std::to_string(most));
    return static_cast<unsigned long>(*value);
}

int discoverVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    std::string address = "127.0.0.1";
    unsigned long port = discovery::kDiscoveryPort;
    unsigned long waitMs = 1000;
    for (std::size_t at = 0; at < arguments.size(); at += 2) {
        if (arguments[at] == "--wait")
            waitMs = numberAfter(arguments, at, "--wait", 60000);
        else if (arguments[at] == "--port")
            port = numberAfter(arguments, at, "--port", 65535);
        else if (arguments[at] == "--on" && at + 1 < arguments.size())
            address = arguments[at + 1];
        else
            throw UsageError("discover takes --wait MS, --port PORT and --on ADDRESS, not '" + arguments[at] + "'");
    }
    const auto peers =
        discovery::listPeers(address, static_cast<std::uint16_t>(port), std::chrono::milliseconds(waitMs));
    if (context.json) {
        boost::json::array list;
        for (const auto& [id, attributes] : peers) {
            boost::json::object peer;
            for (const auto& [key, value] : attributes)
                peer[key] = value;
            list.push_back(std::move(peer));
        }
        setData(context, std::move(list));
        return ExitCode::Ok;
    }
    if (peers.empty())
        context.out << "no back-end answered within " << waitMs << " ms\n";
    for (const auto& peer : peers) {
        const auto& attributes = peer.second;
        const auto field = [&](const std::string& key) {
            const auto found = attributes.find(key);
            return found == attributes.end() ? std::string("-") : found->second;
        };
        context.out << peer.first << "  " << field("Name") << "  " << field("OSName") << "  services " << field("Services")
                    << "\n";
    }
    return ExitCode::Ok;
}

} // namespace

void addDiscoverVerb(VerbTable& table)
{
    table.emplace("discover", Verb{"[--wait MS] [--port PORT] [--on ADDRESS]",
                                   "list the back-ends that answer TCF discovery within MS (default 1000) on the "
                                   "subnet of ADDRESS (default 127.0.0.1)",
                                   discoverVerb, false});
}

} // namespace hil::cli
