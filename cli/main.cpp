// SPDX-License-Identifier: Apache-2.0
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "cli/CliCommands.h"
#include "cli/StopRequests.h"
#include "platform/common/StopSignals.h"
#include "platform/common/TextNumbers.h"
#include "platform/common/Version.h"

namespace {

/// HOST:PORT as the host and the port; false when it is not that.
bool parseTarget(const std::string& target, std::string& host, std::uint16_t& port)
{
    const auto parsed = hil::parseHostPort(target);
    if (!parsed)
        return false;
    host = parsed->host;
    port = parsed->port;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    namespace ExitCode = hil::cli::ExitCode;
    // One thread hears Ctrl-C: a transfer stops at its next step and says how far it got, any
    // other verb ends at once.
    hil::cli::watchStopSignals(hil::blockStopSignals());

    std::string host = "127.0.0.1";
    std::uint16_t port = 1534;
    // The environment names the back-end of every call in a session; --connect still wins.
    if (const char* chosen = std::getenv("HILCORE_CONNECT"); chosen && *chosen && !parseTarget(chosen, host, port)) {
        std::cerr << "hilcore-cli: HILCORE_CONNECT needs HOST:PORT, not '" << chosen << "'\n";
        return ExitCode::Usage;
    }
    bool json = false;
    int at = 1;
    for (; at < argc && argv[at][0] == '-'; ++at) {
        const std::string option = argv[at];
        if (option == "--help" || option == "-h") {
            std::cout << hil::cli::usageText();
            return ExitCode::Ok;
        }
        if (option == "--version") {
            std::cout << hil::versionLine("hilcore-cli") << "\n";
            return ExitCode::Ok;
        }
        if (option == "--json") {
            json = true;
        } else if (option == "--connect" && at + 1 < argc) {
            if (!parseTarget(argv[++at], host, port)) {
                std::cerr << "hilcore-cli: --connect needs HOST:PORT\n";
                return ExitCode::Usage;
            }
        } else {
            std::cerr << "hilcore-cli: unknown option " << option << "\n" << hil::cli::usageText();
            return ExitCode::Usage;
        }
    }
    if (at == argc) {
        std::cerr << hil::cli::usageText();
        return ExitCode::Usage;
    }
    const std::string verb = argv[at];
    const std::vector<std::string> arguments(argv + at + 1, argv + argc);
    hil::tcf::TcfClient client;
    hil::cli::CliContext context{client, json, std::cout, std::cerr};
    const auto known = hil::cli::verbTable().find(verb);
    const bool helpOnly = arguments.size() == 1 && arguments[0] == "--help";
    try {
        // An unknown verb and a verb's help need no back-end: the boundary below answers them.
        if (known != hil::cli::verbTable().end() && known->second.needsConnection && !helpOnly)
            client.connect(host, port);
    } catch (const hil::tcf::TcfClient::Error& error) {
        return hil::cli::reportFailure(context, ExitCode::Connection, error.what());
    }
    return hil::cli::runVerb(context, verb, arguments);
}
