// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "platform/tcf/MessageCodec.h"

namespace hil::tcf {

/// A TCF client over TCP, for the command-line client, tests and benchmarks.
///
/// `connect` does the Hello exchange. Commands may be sent from any thread and may overlap; each
/// gets a future of its reply. A reader thread receives replies, progress reports and events.
class TcfClient {
public:
    struct Reply {
        /// False when the peer answered "N": it does not know the service or command.
        bool recognised = true;
        std::vector<std::string> values;
    };
    using EventHandler = std::function<void(const std::string& service, const std::string& name,
                                            const std::vector<std::string>& arguments)>;
    using ProgressHandler = std::function<void(const std::vector<std::string>& values)>;

    /// Thrown when the connection fails, closes, or a reply does not come in time.
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    TcfClient();
    ~TcfClient();
    TcfClient(const TcfClient&) = delete;
    TcfClient& operator=(const TcfClient&) = delete;

    /// Called on the reader thread for every event after the Hello. May be replaced at any time;
    /// when this returns, the handler it replaced is not running and will not run again.
    void setEventHandler(EventHandler handler)
    {
        std::lock_guard lock(eventMutex_);
        eventHandler_ = std::move(handler);
    }

    /// Connects, sends our Hello (no services) and waits for the peer's. Throws `Error`.
    void connect(const std::string& host, std::uint16_t port,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));
    /// The service names of the peer's Hello.
    const std::vector<std::string>& peerServices() const { return peerServices_; }

    /// Sends a command; `onProgress` receives its progress reports on the reader thread.
    std::future<Reply> send(const std::string& service, const std::string& command,
                            const std::vector<std::string>& arguments, ProgressHandler onProgress = {});
    /// Sends a command and waits for its reply. Throws `Error` on time-out or a lost connection.
    Reply call(const std::string& service, const std::string& command, const std::vector<std::string>& arguments = {},
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

    /// Writes bytes as they are, for tests of malformed input.
    void sendRaw(const std::string& bytes);
    /// Waits until the peer closes the connection; true when it did in time.
    bool waitUntilClosed(std::chrono::milliseconds timeout);
    /// Replies whose token no command was waiting for: a peer that answered twice, or answered
    /// what was never asked.
    std::size_t strayReplies() const;
    /// Closes the connection; pending commands fail. Idempotent.
    void close();

private:
    struct Pending {
        std::promise<Reply> reply;
        ProgressHandler onProgress;
    };

    void readLoop();
    void onMessage(Message&& message);
    void failPending(const std::string& reason);

    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    std::thread reader_;
    std::mutex writeMutex_;
    mutable std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    bool helloReceived_ = false;
    bool closed_ = false;
    std::map<std::string, Pending> pending_;
    std::size_t strayReplies_ = 0;
    std::uint64_t nextToken_ = 1;
    std::vector<std::string> peerServices_;
    std::mutex eventMutex_;
    EventHandler eventHandler_;
};

} // namespace hil::tcf
