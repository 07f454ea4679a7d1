// SPDX-License-Identifier: Apache-2.0
// Load end to end: many clients at once against one simulated target.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/common/Base64.h"
#include "tests/e2e/EventLog.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::e2e {
namespace {

using namespace std::chrono_literals;
using testing::ElementsAre;

TEST(LoadTest, SixteenClientsReadMemoryAndWriteRegistersAtOnceAndEachCommandIsAnsweredOnce)
{
    constexpr int kClients = 16;
    constexpr int kRounds = 40;
    fakes::TempDirectory directory;
    BackendProcess backend(BackendProcess::withProbeDirectory(directory.path()));
    // The tool goes with the client that set it up, so that one stays until the end.
    auto owner = connect(backend);
    ASSERT_THAT(owner->call("Tool", "setupTool", {R"("com.velmora.hil.simulator")", R"("")", "{}"}).values,
                ElementsAre("", R"("simulator-1")"));
    ASSERT_THAT(owner->call("Tool", "connect", {R"("simulator-1")"}).values, ElementsAre(""));
    std::vector<std::uint8_t> pattern(256);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<std::uint8_t>(i);
    const std::string data = R"("simulator-1.DEMO8.data")";
    ASSERT_THAT(owner->call("Memory", "set", {data, "256", "1", "256", "0", base64_json_string(pattern)}).values,
                ElementsAre("", "[]"));
    const std::string expectedRead = base64_json_string(std::vector<std::uint8_t>(pattern.begin(), pattern.begin() + 64));

    std::vector<std::unique_ptr<tcf::TcfClient>> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(connect(backend));
    std::atomic<int> wrongReplies{0};
    std::vector<std::thread> threads;
    for (int index = 0; index < kClients; ++index) {
        threads.emplace_back([&, index] {
            auto& client = *clients[static_cast<std::size_t>(index)];
            // Each client writes its own register, so that its last value is known.
            const std::string reg = "\"simulator-1.DEMO8.R" + std::to_string(index) + "\"";
            std::vector<std::pair<std::future<tcf::TcfClient::Reply>, std::vector<std::string>>> pending;
            for (int round = 0; round < kRounds; ++round) {
                pending.emplace_back(client.send("Memory", "get", {data, "256", "1", "64", "0"}),
                                     std::vector<std::string>{expectedRead, "", "[]"});
                const std::vector<std::uint8_t> value{static_cast<std::uint8_t>(round)};
                pending.emplace_back(client.send("Registers", "set", {reg, base64_json_string(value)}),
                                     std::vector<std::string>{""});
            }
            for (auto& [reply, expected] : pending)
                if (reply.wait_for(30s) != std::future_status::ready || reply.get().values != expected)
                    ++wrongReplies;
            const auto last = client.call("Registers", "get", {reg}).values;
            if (last != std::vector<std::string>{"", base64_json_string(std::vector<std::uint8_t>{kRounds - 1})})
                ++wrongReplies;
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrongReplies, 0);
    // A second reply to any command would have arrived before this one.
    for (auto& client : clients) {
        EXPECT_EQ(client->call("Locator", "sync").values.size(), 0u);
        EXPECT_EQ(client->strayReplies(), 0u);
    }
}

} // namespace
} // namespace hil::e2e
