// SPDX-License-Identifier: Apache-2.0
// "Memory" "get" from the simulator over loopback, against a plain TCP transfer of the same
// bytes. The figure we track is the ratio of the two at the same size and depth.
//
// Both sides are measured with the same kind of client: one thread that writes its requests and
// reads the answers itself, so that the ratio shows the back-end, not the client's threads.

#include <benchmark/benchmark.h>

#include <boost/asio.hpp>
#include <deque>
#include <memory>
#include <thread>

#include "platform/common/Base64.h"
#include "platform/tcf/MessageCodec.h"
#include "bench/SyncTcfClient.h"
#include "platform/tcf/TcfClient.h"
#include "tests/e2e/BackendProcess.h"

namespace {

using boost::asio::ip::tcp;

const std::string kFlash = R"("simulator-1.DEMO32.base")";

/// The back-end with a simulated DEMO32 connected; the client that set it up lives as long as
/// the process, because a tool goes with its client.
class SimulatedTarget {
public:
    SimulatedTarget() : backend_(hil::e2e::BackendProcess::withTestBundles({"--log-mask", "0x20"}))
    {
        owner_.connect("127.0.0.1", backend_.port());
        owner_.call("Tool", "setupTool", {R"("com.velmora.hil.simulator")", R"("")", "{}"});
        owner_.call("Tool", "setProperties", {R"("simulator-1")", R"({"DeviceName":"DEMO32"})"});
        owner_.call("Tool", "connect", {R"("simulator-1")"});
    }
    std::uint16_t port() const { return backend_.port(); }

private:
    hil::e2e::BackendProcess backend_;
    hil::tcf::TcfClient owner_;
};

SimulatedTarget& target()
{
    static SimulatedTarget instance;
    return instance;
}

std::vector<std::string> getArguments(std::int64_t bytes) { return {kFlash, "0", "1", std::to_string(bytes), "0"}; }

/// Answers each request of `requestSize` bytes with the reply message a "get" of that many bytes
/// would bring, on one thread, like the back-end's own: the same bytes, no work.
class BlobServer {
public:
    BlobServer(std::size_t requestSize, std::string reply)
        : acceptor_(io_, {boost::asio::ip::make_address("127.0.0.1"), 0}), requestSize_(requestSize), reply_(std::move(reply))
    {
        accept();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~BlobServer()
    {
        io_.stop();
        thread_.join();
    }
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

private:
    struct Session : std::enable_shared_from_this<Session> {
        Session(tcp::socket s, const BlobServer& server) : socket(std::move(s)), request(server.requestSize_), reply(server.reply_)
        {
            socket.set_option(tcp::no_delay(true));
        }
        void serve()
        {
            boost::asio::async_read(socket, boost::asio::buffer(request), [self = shared_from_this()](auto error, std::size_t) {
                if (error)
                    return;
                boost::asio::async_write(self->socket, boost::asio::buffer(self->reply), [self](auto writeError, std::size_t) {
                    if (!writeError)
                        self->serve();
                });
            });
        }
        tcp::socket socket;
        std::vector<char> request;
        const std::string& reply;
    };

    void accept()
    {
        acceptor_.async_accept([this](auto error, tcp::socket socket) {
            if (!error)
                std::make_shared<Session>(std::move(socket), *this)->serve();
            accept();
        });
    }

    boost::asio::io_context io_;
    tcp::acceptor acceptor_;
    std::size_t requestSize_;
    std::string reply_;
    std::thread thread_;
};

void report(benchmark::State& state, std::int64_t bytes)
{
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * bytes);
}

/// Range: bytes per "get", commands in flight.
void BM_MemoryGet(benchmark::State& state)
{
    const std::int64_t bytes = state.range(0);
    const auto depth = static_cast<std::size_t>(state.range(1));
    hil::bench::SyncTcfClient client(target().port());
    const auto arguments = getArguments(bytes);
    for (std::size_t i = 0; i + 1 < depth; ++i)
        client.send("Memory", "get", arguments);
    for (auto _ : state) {
        client.send("Memory", "get", arguments);
        const auto reply = client.receive(hil::tcf::MessageKind::Reply);
        // token, data, error, range errors: the data is the Base64 string with its quotes.
        if (reply.fields.size() != 4 || reply.fields[1].size() != (static_cast<std::size_t>(bytes) + 2) / 3 * 4 + 2) {
            state.SkipWithError("the read failed");
            break;
        }
    }
    for (std::size_t i = 0; i + 1 < depth; ++i)
        client.receive(hil::tcf::MessageKind::Reply);
    report(state, bytes);
}

/// The same sizes and depths over plain TCP: a request of the command's size, the reply message's bytes back.
void BM_PlainTcp(benchmark::State& state)
{
    const std::int64_t bytes = state.range(0);
    const auto depth = static_cast<std::size_t>(state.range(1));
    const std::string request =
        hil::tcf::encodeMessage({hil::tcf::MessageKind::Command, [&] {
                                     auto fields = std::vector<std::string>{"1", "Memory", "get"};
                                     for (const auto& argument : getArguments(bytes))
                                         fields.push_back(argument);
                                     return fields;
                                 }()});
    const std::string reply = hil::tcf::encodeMessage(
        {hil::tcf::MessageKind::Reply,
         {"1", hil::base64_json_string(std::vector<std::uint8_t>(static_cast<std::size_t>(bytes), 0xFF)), "", "[]"}});
    BlobServer server(request.size(), reply);
    boost::asio::io_context io;
    tcp::socket socket(io);
    hil::bench::connectBenchmarkSocket(socket, server.port());
    std::string back(reply.size(), '\0');
    for (std::size_t i = 0; i + 1 < depth; ++i)
        boost::asio::write(socket, boost::asio::buffer(request));
    for (auto _ : state) {
        boost::asio::write(socket, boost::asio::buffer(request));
        boost::asio::read(socket, boost::asio::buffer(back));
    }
    for (std::size_t i = 0; i + 1 < depth; ++i)
        boost::asio::read(socket, boost::asio::buffer(back));
    report(state, bytes);
}

void sizesAndDepths(benchmark::internal::Benchmark* benchmark)
{
    for (const std::int64_t bytes : {4096, 65536})
        for (const std::int64_t depth : {1, 8})
            benchmark->Args({bytes, depth});
    benchmark->ArgNames({"bytes", "in_flight"})->UseRealTime()->MinTime(2.0);
}

BENCHMARK(BM_MemoryGet)->Apply(sizesAndDepths);
BENCHMARK(BM_PlainTcp)->Apply(sizesAndDepths);

} // namespace

BENCHMARK_MAIN();
