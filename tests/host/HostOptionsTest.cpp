// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <boost/asio/ip/address.hpp>

#include "host/HostOptions.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::host {
namespace {

HostOptions parse(std::vector<std::string> arguments) { return parseHostOptions(arguments, "/opt/hil/bin"); }

TEST(HostOptions, DefaultsListenOnLoopbackAndFindTheTreeTheyAreIn)
{
    const auto options = parse({});
    EXPECT_EQ(options.address, "127.0.0.1");
    EXPECT_EQ(options.port, 1534);
    EXPECT_FALSE(options.discovery.has_value());
    EXPECT_EQ(options.discoveryPort, 1534);
    EXPECT_EQ(options.limits.maxMessageBytes, 16u << 20);
    // The build tree, then an installed one (it has lib/hilcore/bundles).
    const fakes::TempDirectory tree;
    const auto bin = tree.path() / "bin";
    EXPECT_EQ(parseHostOptions({}, bin).bundles, tree.path() / "bundles");
    EXPECT_EQ(parseHostOptions({}, bin).shippedPreferences, tree.path() / "etc/preferences.properties");
    std::filesystem::create_directories(tree.path() / "lib/hilcore/bundles");
    EXPECT_EQ(parseHostOptions({}, bin).bundles, tree.path() / "lib/hilcore/bundles");
    EXPECT_EQ(parseHostOptions({}, bin).settings, tree.path() / "share/hilcore/settings.properties");
}

TEST(HostOptions, ReadsEveryOptionInBothForms)
{
    const fakes::TempDirectory files;
    const auto settings = files.write("s", "").string();
    const auto preferences = files.write("p", "").string();
    const auto options = parse({"--listen", "0.0.0.0:0", "--bundles=/b", "--log-mask", "0x26",
                                "--log-categories", "svc,HIL", "--max-message-bytes=1024", "--max-clients", "2",
                                "--max-outgoing-bytes", "4096", "--settings", settings, "--preferences=" + preferences,
                                "--discovery", "on", "--discovery-port=4000", "--gdb-servers", "3333"});
    EXPECT_EQ(options.address, "0.0.0.0");
    EXPECT_EQ(options.port, 0);
    EXPECT_EQ(options.bundles, std::filesystem::path("/b"));
    EXPECT_EQ(options.logMask, 0x26u);
    EXPECT_EQ(options.logCategories, "svc,HIL");
    EXPECT_EQ(options.limits.maxMessageBytes, 1024u);
    EXPECT_EQ(options.limits.maxClients, 2u);
    EXPECT_EQ(options.limits.maxOutgoingBytes, 4096u);
    EXPECT_EQ(options.settings, std::filesystem::path(settings));
    EXPECT_EQ(options.preferences, std::filesystem::path(preferences));
    EXPECT_EQ(options.discovery, true);
    EXPECT_EQ(options.discoveryPort, 4000);
    EXPECT_EQ(options.gdbServerFirstPort, 3333);
    EXPECT_EQ(options.gdbServerAddress, "127.0.0.1");
    EXPECT_EQ(parse({"--gdb-servers=0.0.0.0:4000"}).gdbServerAddress, "0.0.0.0");
}

TEST(HostOptions, AHostNameIsResolvedSoThatLoopbackIsKnownAsSuch)
{
    const auto address = boost::asio::ip::make_address(parse({"--listen", "localhost:0"}).address);
    EXPECT_TRUE(address.is_loopback()) << address;
}

class HostOptionsRefuse : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(HostOptionsRefuse, WithAReason)
{
    EXPECT_THROW(parse(GetParam()), OptionError);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, HostOptionsRefuse,
    // What HOST:PORT texts are refused is TextNumbers' HostPorts table; one here shows it is used.
    testing::Values(std::vector<std::string>{"--listen"}, std::vector<std::string>{"--listen", "1534"},
                    std::vector<std::string>{"--max-clients", "0"},
                    std::vector<std::string>{"--max-message-bytes", "lots"}, std::vector<std::string>{"--verbose"},
                    std::vector<std::string>{"--log-mask", "0x2g"},
                    std::vector<std::string>{"--gdb-servers", "0"}, std::vector<std::string>{"--gdb-servers", "65536"},
                    // A file the user names must exist; only the default ones may be missing.
                    std::vector<std::string>{"--settings", "/nonexistent/settings.properties"},
                    std::vector<std::string>{"--preferences=/nonexistent/preferences.properties"}));

} // namespace
} // namespace hil::host
