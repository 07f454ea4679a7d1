#include <csignal>
#include <iostream>

#include "cli/CliCommands.h"
#include "platform/common/StopSignals.h"

int main(int argc, char** argv)
{
    namespace ExitCode = hil::cli::ExitCode;
    // So that `watch` can wait for them; a one-shot verb is never interrupted mid-reply.
    hil::blockStopSignals();

    std::string host = "127.0.0.1";
    std::uint16_t port = 1534;
    bool json = false;
    int at = 1;
    for (; at < argc && argv[at][0] == '-'; ++at) {
        const std::string option = argv[at];
        if (option == "--help" || option == "-h") {
            std::cout << hil::cli::usageText();
            return ExitCode::Ok;
        }
        if (option == "--json") {
            json = true;
        } else if (option == "--connect" && at + 1 < argc) {
            const std::string target = argv[++at];
            const auto colon = target.rfind(':');
            unsigned long parsed = 0;
            try {
                parsed = colon == std::string::npos ? 0 : std::stoul(target.substr(colon + 1));
            } catch (const std::exception&) {
            }
            if (parsed == 0 || parsed > 65535 || colon == 0) {
                std::cerr << "hilcore-cli: --connect needs HOST:PORT\n";
                return ExitCode::Usage;
            }
            host = target.substr(0, colon);
            port = static_cast<std::uint16_t>(parsed);
        } else {
            std::cerr << "hilcore-cli: unknown option " << option << "\n" << hil::cli::usageText();
            return ExitCode::Usage;
        }
    }
    if (at == argc) {
        std::cerr << hil::cli::usageText();
        return ExitCode::Usage;
    }
    const auto verb = hil::cli::verbTable().find(argv[at]);
    if (verb == hil::cli::verbTable().end()) {
        std::cerr << "hilcore-cli: unknown verb " << argv[at] << "\n" << hil::cli::usageText();
        return ExitCode::Usage;
    }
    const std::vector<std::string> arguments(argv + at + 1, argv + argc);
    hil::tcf::TcfClient client;
    hil::cli::CliContext context{client, json, std::cout, std::cerr};
    try {
        if (verb->second.needsConnection)
            client.connect(host, port);
    } catch (const hil::tcf::TcfClient::Error& error) {
        std::cerr << "error: " << error.what() << "\n";
        return ExitCode::Connection;
    }
    return hil::cli::runVerb(context, verb->second, arguments);
}
