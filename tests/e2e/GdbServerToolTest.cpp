// SPDX-License-Identifier: Apache-2.0
// Tools on GDB servers reached over TCP, end to end: the servers listed, a target with flash, and
// the bad input every user meets once (a server that is something else, no port, no QEMU).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include <boost/json.hpp>

#include "platform/common/Base64.h"
#include "platform/common/ErrorCode.h"
#include "tests/e2e/EventLog.h"
#include "tests/fakes/FakeGdbServer.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using fakes::FakeGdbServer;
using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;

const std::string kGdbRemote = R"("com.velmora.hil.gdbremote")";
const std::string kTcp = R"("com.velmora.hil.connection.tcp")";
const std::string kQemu = R"("com.velmora.hil.connection.qemu")";
const std::string kTool = R"("gdbremote-1")";

std::string portOnly(std::uint16_t port) { return R"({"Port":)" + std::to_string(port) + "}"; }
std::string listed(std::uint16_t port) { return R"("Host":"127.0.0.1","Port":)" + std::to_string(port) + "}"; }

// Servers coming and going: GdbConnections.EndpointsThatAnswerAreAttached, and ToolTest for the polling.
TEST(GdbServerTool, ConfiguredServerIsListedAndItsFlashTargetWrittenErasedAndLeftWithADetach)
{
    FakeGdbServer server({.offerNoAck = true, .flash = {{0x8000000, 0x4000, 0x800}}});
    const std::uint16_t closed = FakeGdbServer::closedPort();
    fakes::TempDirectory directory;
    BackendProcess backend(BackendProcess::withGdbRemote(
        directory.path(), "127.0.0.1:" + std::to_string(server.port()) + ", 127.0.0.1:" + std::to_string(closed)));
    auto client = connect(backend);
    EventLog events;
    events.attach(*client);
    EXPECT_THAT(client->call("Tool", "getAttachedTools", {"\"\""}).values.at(1),
                AllOf(HasSubstr(listed(server.port())), Not(HasSubstr(listed(closed)))));
    ASSERT_THAT(client->call("Tool", "setupTool", {kGdbRemote, kTcp, portOnly(server.port())}).values, ElementsAre("", kTool));
    ASSERT_THAT(client->call("Tool", "connect", {kTool}).values, ElementsAre(""));

    // Without a description: one memory over the 32-bit addresses, and the server's registers.
    const std::string memory = R"("gdbremote-1.target.memory")";
    EXPECT_THAT(client->call("Memory", "getChildren", {R"("gdbremote-1.target")"}).values, ElementsAre("", "[" + memory + "]"));
    EXPECT_THAT(client->call("Registers", "getChildren", {R"("gdbremote-1.target")"}).values,
                ElementsAre("", R"(["gdbremote-1.target.r0","gdbremote-1.target.sp","gdbremote-1.target.pc"])"));

    // The fake refuses plain writes to flash: these bytes went through vFlash.
    const std::string image = "firmware image";
    const std::vector<std::uint8_t> bytes(image.begin(), image.end());
    EXPECT_THAT(client->call("Memory", "set", {memory, "134218000", "1", std::to_string(bytes.size()), "0",
                                               "\"" + base64_encode(bytes) + "\""})
                    .values,
                ElementsAre("", "[]"));
    EXPECT_EQ(server.memory(134218000, bytes.size()), bytes);
    // Beyond the 32-bit space: the bytes past it fail as outside.
    EXPECT_THAT(client->call("Memory", "get", {memory, "4294967294", "1", "4", "0"}).values,
                ElementsAre(R"("AAAAAA==")", "", R"([{"addr":4294967296,"size":2,"stat":2,"msg":""}])"));

    EXPECT_THAT(client->call("Tool", "genericStringCommand", {kTool, R"("reset halt")"}).values,
                ElementsAre("", R"("did reset halt\n")"));
    // What a GDB server lacks is refused by name, and the tool stays connected.
    EXPECT_THAT(client->call("Tool", "selfTest", {kTool}).values.at(0), HasSubstr("Tool gdbremote has no self test"));
    EXPECT_THAT(client->call("Device", "erase", {R"("gdbremote-1.target")"}).values, ElementsAre(""));
    EXPECT_EQ(server.memory(134218000, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));

    EXPECT_THAT(client->call("Tool", "disconnect", {kTool}).values, ElementsAre(""));
    EXPECT_TRUE(server.received("D"));
    EXPECT_TRUE(events.waitFor(R"(Device contextRemoved ["gdbremote-1.target"])"));
}

std::string codeOf(ErrorCode code) { return "\"Code\":" + std::to_string(toInt(code)); }

TEST(GdbServerTool, BadInputIsAClearErrorAndTheBackEndGoesOn)
{
    fakes::TempDirectory directory;
    const auto notAnImage = directory.path() / "notes.txt";
    std::ofstream(notAnImage) << "not firmware";
    ::setenv("HIL_QEMU", "/nonexistent/qemu-system-arm", 1);
    BackendProcess noQemu(BackendProcess::withGdbRemote(directory.path()));
    ::unsetenv("HIL_QEMU");
    BackendProcess backend(BackendProcess::withGdbRemote(directory.path()));

    struct Case {
        const char* name;
        BackendProcess& process;
        std::string connection;
        std::string properties;
        std::string says;
        ErrorCode code; ///< of our own error tree, or the Tool service's for a failed set-up
        std::string toolProperties = R"({"Timeout":500})";
    };
    const std::string kernel = boost::json::serialize(boost::json::object{{"Kernel", notAnImage.string()}});
    // A port nobody listens on fails as RspClient.NakedOrSilentOrForeignServersAreNotConnected pins.
    const std::vector<Case> cases{
        {"a server of another protocol", backend, kTcp, portOnly(backend.port()), "is not a GDB server", ErrorCode::TargetLost},
        {"no port", backend, kTcp, R"({"Host":"127.0.0.1"})", "Failed to create the connection", ErrorCode::NotFound},
        {"a kernel that is not ELF", backend, kQemu, "{}", "is not an ELF file", ErrorCode::BadSourceFile, kernel},
        {"a machine QEMU does not know", backend, kQemu, R"({"Machine":"no-such-board"})",
         "could not start machine no-such-board", ErrorCode::TargetRefused},
        {"no QEMU", noQemu, kQemu, "{}", "qemu-system-arm is not installed", ErrorCode::NotFound, kernel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = connect(c.process);
        const auto made = client->call("Tool", "setupTool", {kGdbRemote, c.connection, c.properties}).values;
        std::string failure = made.at(0);
        if (failure.empty()) {
            const std::string id = made.at(1);
            client->call("Tool", "setProperties", {id, c.toolProperties});
            failure = client->call("Tool", "connect", {id}).values.at(0);
            EXPECT_THAT(client->call("Tool", "getContext", {id}).values.at(1), HasSubstr(R"("State":"Idle")"));
            EXPECT_THAT(client->call("Tool", "genericStringCommand", {id, R"("reset")"}).values.at(0),
                        AllOf(HasSubstr("is not connected"), HasSubstr(codeOf(ErrorCode::NotConnected))));
        }
        EXPECT_THAT(failure, AllOf(HasSubstr(c.says), HasSubstr(codeOf(c.code))));
        EXPECT_THAT(client->call("Tool", "getSupportedToolTypes").values, ElementsAre("", "[" + kGdbRemote + "]"));
    }
    // Without QEMU, no qemu connection is listed as attached.
    EXPECT_THAT(connect(noQemu)->call("Tool", "getAttachedTools", {"\"\""}).values, ElementsAre("", "[]"));
}

} // namespace
} // namespace hil::e2e
