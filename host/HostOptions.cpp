// SPDX-License-Identifier: Apache-2.0
#include "host/HostOptions.h"

#include <functional>
#include <map>
#include <sstream>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "host/HostPreferences.h"
#include "platform/common/TextNumbers.h"
#include "platform/common/UsageColumns.h"

namespace hil::host {

namespace {

std::uint64_t parseNumber(const std::string& option, const std::string& text)
{
    if (const auto value = parseUnsigned(text))
        return *value;
    throw OptionError(option + " needs a number, not '" + text + "'");
}

std::uint64_t parsePositive(const std::string& option, const std::string& text)
{
    const auto value = parseNumber(option, text);
    if (value == 0)
        throw OptionError(option + " must be above 0");
    return value;
}

/// An address as the listener takes it: a numeric address as it is, a host name ("localhost")
/// as the first address it resolves to.
std::string numericAddress(const std::string& option, const std::string& host)
{
    boost::system::error_code error;
    boost::asio::ip::make_address(host, error);
    if (!error)
        return host;
    boost::asio::io_context context;
    boost::asio::ip::tcp::resolver resolver(context);
    const auto results = resolver.resolve(host, "", boost::asio::ip::resolver_base::passive, error);
    if (error || results.empty())
        throw OptionError(option + ": cannot resolve '" + host + "'" + (error ? ": " + error.message() : ""));
    return results.begin()->endpoint().address().to_string();
}

/// A file the user named must be there: a typo would otherwise start a back-end without it.
std::filesystem::path existingFile(const std::string& option, const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw OptionError(option + ": there is no file '" + path + "'");
    return path;
}

void parseListen(const std::string& text, HostOptions& options)
{
    const auto parsed = parseHostPort(text, true);
    if (!parsed)
        throw OptionError("--listen needs ADDRESS:PORT, a port from 0 to 65535, not '" + text + "'");
    options.address = numericAddress("--listen", parsed->host);
    options.port = parsed->port;
}

/// "[ADDRESS:]PORT": the GDB servers' first port, and their address when given.
void parseGdbServers(const std::string& text, HostOptions& options)
{
    const bool withAddress = text.find(':') != std::string::npos;
    const auto parsed = parseHostPort(withAddress ? text : "127.0.0.1:" + text, true);
    if (!parsed || parsed->port == 0)
        throw OptionError("--gdb-servers needs [ADDRESS:]PORT, a first port from 1 to 65535, not '" + text + "'");
    if (withAddress)
        options.gdbServerAddress = numericAddress("--gdb-servers", parsed->host);
    options.gdbServerFirstPort = parsed->port;
}

using Setter = std::function<void(const std::string&, HostOptions&)>;

struct OptionEntry {
    std::string argument; ///< empty for a flag
    std::string help;
    Setter set;
};

/// "(default TEXT)", for a help line.
std::string byDefault(const std::string& text) { return " (default " + text + ")"; }

std::string mebibytes(std::size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

std::string hex(unsigned value)
{
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

const std::map<std::string, OptionEntry>& optionTable()
{
    // The help gives the defaults the options start from, so that the two cannot drift apart.
    const HostOptions defaults;
    static const std::map<std::string, OptionEntry> table{
        {"--listen", {"ADDRESS:PORT",
                      "where to listen" + byDefault(defaults.address + ":" + std::to_string(defaults.port)) +
                          "; port 0 picks a free port",
                      parseListen}},
        {"--bundles", {"DIR", "the bundle directory", [](const std::string& v, HostOptions& o) { o.bundles = v; }}},
        {"--preferences", {"FILE", "the platform preferences, read instead of the shipped ones",
                           [](const std::string& v, HostOptions& o) { o.preferences = existingFile("--preferences", v); }}},
        {"--settings", {"FILE", "the debugger settings (properties file)",
                        [](const std::string& v, HostOptions& o) { o.settings = existingFile("--settings", v); }}},
        {"--log-mask", {"MASK", "log levels: 0x02 debug, 0x04 info, 0x20 error" + byDefault(hex(defaults.logMask)),
                        [](const std::string& v, HostOptions& o) {
                            o.logMask = static_cast<unsigned>(parseNumber("--log-mask", v));
                        }}},
        {"--log-categories", {"LIST", "comma-separated categories to log (default: all)",
                              [](const std::string& v, HostOptions& o) { o.logCategories = v; }}},
        {"--max-message-bytes", {"N", "largest incoming message; a larger one closes its client" +
                                            byDefault(mebibytes(defaults.limits.maxMessageBytes)),
                                 [](const std::string& v, HostOptions& o) {
                                     o.limits.maxMessageBytes = parsePositive("--max-message-bytes", v);
                                 }}},
        {"--max-outgoing-bytes", {"N", "unsent output after which a client that does not read is dropped" +
                                             byDefault(mebibytes(defaults.limits.maxOutgoingBytes)),
                                  [](const std::string& v, HostOptions& o) {
                                      o.limits.maxOutgoingBytes = parsePositive("--max-outgoing-bytes", v);
                                  }}},
        {"--max-clients", {"N", "most clients at once that said Hello; more are refused" +
                                  byDefault(std::to_string(defaults.limits.maxClients)),
                           [](const std::string& v, HostOptions& o) {
                               o.limits.maxClients = parsePositive("--max-clients", v);
                           }}},
        {"--hello-timeout", {"MS", "a connection that sends no Hello within this is closed" +
                                    byDefault(std::to_string(defaults.limits.helloTimeout.count())),
                             [](const std::string& v, HostOptions& o) {
                                 o.limits.helloTimeout = std::chrono::milliseconds(parsePositive("--hello-timeout", v));
                             }}},
        {"--discovery", {"on|off", "TCF UDP discovery (default: on for a loopback listener, off otherwise)",
                         [](const std::string& v, HostOptions& o) {
                             if (v != "on" && v != "off")
                                 throw OptionError("--discovery needs on or off, not '" + v + "'");
                             o.discovery = v == "on";
                         }}},
        {"--discovery-port", {"PORT", "the well-known UDP port of discovery" + byDefault(std::to_string(defaults.discoveryPort)),
                              [](const std::string& v, HostOptions& o) {
                                  const auto port = parsePositive("--discovery-port", v);
                                  if (port > 65535)
                                      throw OptionError("--discovery-port must be at most 65535");
                                  o.discoveryPort = static_cast<std::uint16_t>(port);
                              }}},
        {"--gdb-servers", {"[ADDRESS:]PORT",
                           "give every target with run control a GDB server, on the first free port from PORT (address " +
                               defaults.gdbServerAddress + " unless given)",
                           parseGdbServers}},
        {"--help", {"", "print this text", [](const std::string&, HostOptions& o) { o.help = true; }}},
        {"--version", {"", "print the version", [](const std::string&, HostOptions& o) { o.version = true; }}},
    };
    return table;
}

} // namespace

HostOptions parseHostOptions(const std::vector<std::string>& arguments, const std::filesystem::path& executableDir)
{
    HostOptions options;
    // An installed tree holds the bundles in lib/hilcore/bundles and the default preferences and
    // settings in share/hilcore; the build tree holds them in bundles/ and etc/.
    const auto root = executableDir.parent_path();
    const bool installed = std::filesystem::is_directory(root / "lib" / "hilcore" / "bundles");
    const auto configDir = installed ? root / "share" / "hilcore" : root / "etc";
    options.bundles = installed ? root / "lib" / "hilcore" / "bundles" : root / "bundles";
    options.shippedPreferences = configDir / "preferences.properties";
    options.settings = configDir / "settings.properties";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        const auto equals = name.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const auto entry = optionTable().find(name);
        if (entry == optionTable().end())
            throw OptionError("unknown option '" + arguments[i] + "' (see --help)");
        if (!entry->second.argument.empty() && !inlineValue) {
            if (i + 1 == arguments.size())
                throw OptionError(name + " needs " + entry->second.argument);
            value = arguments[++i];
        }
        entry->second.set(value, options);
    }
    return options;
}

bool isLoopbackAddress(const std::string& address)
{
    boost::system::error_code error;
    const auto parsed = boost::asio::ip::make_address(address, error);
    return !error && parsed.is_loopback();
}

std::string hostUsage()
{
    std::string text = "Usage: hilcore-backend [OPTION]...\n"
                       "Serves the hardware-interface core over TCF until Ctrl-C or SIGTERM.\n\n";
    return text + usageColumns(optionTable(), 32, [](const OptionEntry& option) { return option.argument; }) +
           preferencesUsage();
}

} // namespace hil::host
