// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "platform/tcf/HeldReplies.h"
#include "platform/tcf/TcfClient.h"
#include "platform/tcf/TcfServer.h"

namespace hil::tcf {
namespace {

using namespace std::chrono_literals;

/// A service whose state has no lock of its own, as the real ones: it relies on the server
/// running one command at a time, and each client's commands in the order they were sent.
class CountingService {
public:
    void handle(ICommandChannel& channel, const Token& token, const std::string& command,
                const std::vector<std::string>& arguments)
    {
        EXPECT_FALSE(running_.exchange(true)) << "two commands ran at once";
        const int sequence = std::stoi(arguments.at(0));
        int& last = lastSequence_[channel.getChannelId()];
        EXPECT_EQ(sequence, last + 1) << "channel " << channel.getChannelId() << " ran a command out of order";
        last = sequence;
        ++commands_;
        if (command == "addWithProgress")
            channel.sendProgress(token, {std::to_string(commands_)});
        channel.sendReply(token, {"", std::to_string(commands_)});
        running_ = false;
    }
    void cleanup(int channelId)
    {
        EXPECT_FALSE(running_.exchange(true)) << "a cleanup ran beside a command";
        lastSequence_.erase(channelId);
        ++cleanups;
        running_ = false;
    }
    std::atomic<int> cleanups{0};

private:
    std::atomic<bool> running_{false};
    std::map<int, int> lastSequence_;
    int commands_ = 0;
};

TEST(TcfServerThreads, ClientsOnSeveralThreadsRunOneCommandAtATimeEachClientInOrder)
{
    constexpr int kClients = 4;
    constexpr int kCommands = 300;
    TcfServer server(TcfServer::Limits{});
    CountingService service;
    server.registerService("Count", [&](ICommandChannel& channel, const Token& token, const std::string& command,
                                        const std::vector<std::string>& arguments) {
        service.handle(channel, token, command, arguments);
        // A command's event reaches the other clients too.
        if (std::stoi(arguments.at(0)) % 5 == 0)
            server.sendEvent("Count", "changed", {});
    });
    server.setChannelClosedHandler([&](int channelId) { service.cleanup(channelId); });
    const auto port = server.start("127.0.0.1", 0);

    std::atomic<bool> producing{true};
    std::thread eventSource([&] {
        while (producing) {
            server.sendEvent("Count", "tick", {"1"});
            std::this_thread::sleep_for(1ms);
        }
    });
    std::vector<std::unique_ptr<TcfClient>> clients;
    std::vector<std::atomic<int>> events(kClients);
    for (int c = 0; c < kClients; ++c) {
        clients.push_back(std::make_unique<TcfClient>());
        clients.back()->setEventHandler([&events, c](const auto&, const auto&, const auto&) { ++events[c]; });
        clients.back()->connect("127.0.0.1", port);
    }
    std::vector<std::thread> senders;
    std::vector<std::vector<int>> totals(kClients);
    for (int c = 0; c < kClients; ++c)
        senders.emplace_back([&, c] {
            // Many in flight: replies of one read go out together, and must still all come back.
            std::vector<std::future<TcfClient::Reply>> replies;
            std::atomic<int> progress{0};
            for (int i = 1; i <= kCommands; ++i)
                replies.push_back(clients[c]->send("Count", i % 7 == 0 ? "addWithProgress" : "add",
                                                   {std::to_string(i)}, [&](const auto&) { ++progress; }));
            for (auto& reply : replies)
                totals[c].push_back(std::stoi(reply.get().values.at(1)));
            EXPECT_EQ(progress, kCommands / 7);
        });
    for (auto& sender : senders)
        sender.join();
    producing = false;
    eventSource.join();

    std::vector<int> all;
    for (int c = 0; c < kClients; ++c) {
        EXPECT_TRUE(std::is_sorted(totals[c].begin(), totals[c].end())) << "client " << c;
        EXPECT_GT(events[c], 0) << "client " << c << " heard no event";
        EXPECT_EQ(clients[c]->strayReplies(), 0u);
        all.insert(all.end(), totals[c].begin(), totals[c].end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a command ran twice";
    EXPECT_EQ(all.size(), std::size_t{kClients * kCommands});

    clients.clear();
    for (int waited = 0; service.cleanups < kClients && waited < 500; ++waited)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(service.cleanups, kClients);
    server.stop();
}

/// A client of its own, which says Hello when the test wants.
class RawClient {
public:
    explicit RawClient(std::uint16_t port) : socket_(io_)
    {
        boost::asio::ip::tcp::resolver resolver(io_);
        boost::asio::connect(socket_, resolver.resolve("127.0.0.1", std::to_string(port)));
    }
    void send(const Message& message) { sendAll({message}); }
    void sendAll(const std::vector<Message>& messages)
    {
        std::string bytes;
        for (const auto& message : messages)
            bytes += encodeMessage(message);
        boost::asio::write(socket_, boost::asio::buffer(bytes));
    }
    /// The next message the server sent.
    Message next()
    {
        while (messages_.empty()) {
            char buffer[4096];
            const std::size_t got = socket_.read_some(boost::asio::buffer(buffer));
            decoder_.feed({buffer, got}, [&](Message&& message) { messages_.push_back(std::move(message)); });
        }
        Message first = std::move(messages_.front());
        messages_.erase(messages_.begin());
        return first;
    }

private:
    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    MessageDecoder decoder_;
    std::vector<Message> messages_;
};

TEST(TcfServerThreads, AnEventSentBetweenOurHelloAndTheClientsReachesTheClientRightAfterIt)
{
    // A client is connected once it has our Hello; its own may still be on its way while another
    // client's command announces something.
    TcfServer server(TcfServer::Limits{});
    server.registerService("Count", [](ICommandChannel& channel, const Token& token, const std::string&,
                                       const std::vector<std::string>&) { channel.sendReply(token, {""}); });
    RawClient client(server.start("127.0.0.1", 0));
    EXPECT_EQ(client.next().fields.at(1), "Hello");
    server.sendEvent("Count", "early", {"1"});
    client.send({MessageKind::Event, {"Locator", "Hello", "[]"}});
    server.sendEvent("Count", "late", {"2"});
    client.send({MessageKind::Command, {"7", "Count", "add", "3"}});
    EXPECT_EQ(client.next().fields, (std::vector<std::string>{"Count", "early", "1"}));
    EXPECT_EQ(client.next().fields, (std::vector<std::string>{"Count", "late", "2"}));
    EXPECT_EQ(client.next().fields, (std::vector<std::string>{"7", ""}));
    server.stop();
}

TEST(TcfServerThreads, AQuickCommandsReplyGoesOutBeforeTheSlowOneAfterItInTheSameReadWaits)
{
    std::promise<void> quickReplyHeard;
    auto heard = quickReplyHeard.get_future();
    std::atomic<bool> waitedInVain{false};
    TcfServer server(TcfServer::Limits{});
    server.registerService("Target", [&](ICommandChannel& channel, const Token& token, const std::string& command,
                                         const std::vector<std::string>&) {
        if (command == "slow") {
            sendHeldReplies();
            // A target that answers only once the client has had the quick reply.
            waitedInVain = heard.wait_for(5s) != std::future_status::ready;
        }
        channel.sendReply(token, {""});
    });
    RawClient client(server.start("127.0.0.1", 0));
    EXPECT_EQ(client.next().fields.at(1), "Hello");
    // One write, so that one read brings all three.
    client.sendAll({{MessageKind::Event, {"Locator", "Hello", "[]"}},
                    {MessageKind::Command, {"1", "Target", "quick"}},
                    {MessageKind::Command, {"2", "Target", "slow"}}});
    EXPECT_EQ(client.next().fields, (std::vector<std::string>{"1", ""}));
    quickReplyHeard.set_value();
    EXPECT_EQ(client.next().fields, (std::vector<std::string>{"2", ""}));
    EXPECT_FALSE(waitedInVain);
    server.stop();
}

} // namespace
} // namespace hil::tcf
