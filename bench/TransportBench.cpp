// SPDX-License-Identifier: Apache-2.0
// Round trips of a trivial command over loopback, against a plain TCP echo of the same bytes.
// The figure we track is the ratio of the two at the same client count.

#include <benchmark/benchmark.h>

#include <boost/asio.hpp>
#include <memory>
#include <thread>

#include "bench/SyncTcfClient.h"
#include "platform/tcf/MessageCodec.h"
#include "tests/e2e/BackendProcess.h"

namespace {

using boost::asio::ip::tcp;

hil::e2e::BackendProcess& backend()
{
    static hil::e2e::BackendProcess process(hil::e2e::BackendProcess::withTestBundles({"--log-mask", "0x20"}));
    return process;
}

/// Echoes whatever each connection sends, on one thread, like the back-end's own.
class EchoServer {
public:
    EchoServer() : acceptor_(io_, {boost::asio::ip::make_address("127.0.0.1"), 0})
    {
        accept();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~EchoServer()
    {
        io_.stop();
        thread_.join();
    }
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

private:
    struct Session : std::enable_shared_from_this<Session> {
        explicit Session(tcp::socket s) : socket(std::move(s)) { socket.set_option(tcp::no_delay(true)); }
        void read()
        {
            socket.async_read_some(boost::asio::buffer(buffer), [self = shared_from_this()](auto error, std::size_t n) {
                if (error)
                    return;
                boost::asio::async_write(self->socket, boost::asio::buffer(self->buffer, n),
                                         [self](auto writeError, std::size_t) {
                                             if (!writeError)
                                                 self->read();
                                         });
            });
        }
        tcp::socket socket;
        std::array<char, 65536> buffer;
    };

    void accept()
    {
        acceptor_.async_accept([this](auto error, tcp::socket socket) {
            if (!error)
                std::make_shared<Session>(std::move(socket))->read();
            accept();
        });
    }

    boost::asio::io_context io_;
    tcp::acceptor acceptor_;
    std::thread thread_;
};

EchoServer& echoServer()
{
    static EchoServer server;
    return server;
}

void BM_SyncRoundTrip(benchmark::State& state)
{
    hil::bench::SyncTcfClient client(backend().port());
    for (auto _ : state) {
        client.send("Locator", "sync", {});
        const auto reply = client.receive(hil::tcf::MessageKind::Reply);
        benchmark::DoNotOptimize(reply.fields.size());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SyncRoundTrip)->Threads(1)->Threads(4)->UseRealTime()->MinTime(2.0);

void BM_EchoRoundTrip(benchmark::State& state)
{
    boost::asio::io_context io;
    tcp::socket socket(io);
    hil::bench::connectBenchmarkSocket(socket, echoServer().port());
    const std::string command = hil::tcf::encodeMessage({hil::tcf::MessageKind::Command, {"1", "Locator", "sync"}});
    std::string back(command.size(), '\0');
    for (auto _ : state) {
        boost::asio::write(socket, boost::asio::buffer(command));
        boost::asio::read(socket, boost::asio::buffer(back));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EchoRoundTrip)->Threads(1)->Threads(4)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
