// SPDX-License-Identifier: Apache-2.0
#pragma once

// The cheapest way to move TCF messages over loopback, for the baselines of the transport
// ratios: blocking sockets, one thread a side, TCP_NODELAY, a fixed buffer, no framework, the
// server in a process of its own as the back-end is. The back-end is measured with the very same
// client, so a ratio shows the back-end alone.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/Median.h"
#include "platform/tcf/MessageCodec.h"

namespace hil::bench::plain {

/// Finds the ends of TCF messages in a stream, however it is cut into reads: a message ends at
/// the escape byte followed by 1, and no escaped data byte can look like that.
class MessageEnds {
public:
    /// Calls `onEnd(kind, bytes of the message)` for each message `chunk` completes; the kind is
    /// the message's first byte.
    template <class OnEnd>
    void scan(std::string_view chunk, OnEnd&& onEnd)
    {
        // Jumps from escape byte to escape byte: a client that looked at every byte of a large
        // reply would be slower than the servers it measures.
        std::size_t at = 0;
        while (at < chunk.size()) {
            if (length_ == 0)
                kind_ = chunk[at];
            if (afterEscape_) {
                afterEscape_ = false;
                ++length_;
                if (chunk[at++] == tcf::wire::EndOfMessage) {
                    onEnd(kind_, length_);
                    length_ = 0;
                }
                continue;
            }
            const void* escape = std::memchr(chunk.data() + at, tcf::wire::Escape, chunk.size() - at);
            const std::size_t next = escape ? static_cast<std::size_t>(static_cast<const char*>(escape) - chunk.data()) + 1
                                            : chunk.size();
            length_ += next - at;
            afterEscape_ = escape != nullptr;
            at = next;
        }
    }

private:
    bool afterEscape_ = false;
    char kind_ = 0;
    std::size_t length_ = 0;
};

/// An open socket, closed when it goes.
class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Socket& operator=(Socket&&) = delete;
    int fd() const { return fd_; }

    void writeAll(std::string_view bytes) const
    {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
            if (written <= 0)
                throw std::runtime_error("write failed");
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }
    /// Some bytes into `buffer`; 0 at the end of the stream.
    std::size_t readSome(std::span<char> buffer) const
    {
        const ssize_t count = ::read(fd_, buffer.data(), buffer.size());
        if (count < 0)
            throw std::runtime_error("read failed");
        return static_cast<std::size_t>(count);
    }

private:
    int fd_;
};

inline void setNoDelay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

inline sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

/// A client socket to the loopback `port`, with a fixed 4 MiB receive buffer: left to the
/// kernel's tuning, the buffer of a client with several large replies in flight sometimes stays
/// small for a whole run, which halves its rate at random.
inline Socket connectLoopback(std::uint16_t port)
{
    Socket socket(::socket(AF_INET, SOCK_STREAM, 0));
    const int receiveBuffer = 4 << 20;
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const auto address = loopback(port);
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    setNoDelay(socket.fd());
    return socket;
}

/// What a client sends, and what it expects back.
struct Exchange {
    std::string request;
    /// The size every reply must have; 0 takes any.
    std::size_t replyBytes = 0;
    /// Say Hello first and wait for the peer's, as a TCF peer must.
    bool hello = false;
};

/// A reader of whole messages from one socket, which tells events from answers (any other
/// message: a reply, or the echo of a command).
class MessageReader {
public:
    explicit MessageReader(const Socket& socket) : socket_(socket) {}

    /// Reads until `count` more answers have ended; each must be `expectedBytes` long (0: any).
    /// Returns the bytes read meanwhile when `keep`.
    std::string awaitAnswers(std::size_t count, std::size_t expectedBytes, bool keep = false)
    {
        std::string kept;
        while (answers_ < count)
            readMore(expectedBytes, keep ? &kept : nullptr);
        answers_ -= count;
        return kept;
    }
    /// Reads until an event has ended since the last call: the peer's Hello, at first.
    void awaitEvent()
    {
        const std::size_t before = events_;
        while (events_ == before)
            readMore(0, nullptr);
    }
    /// The events read so far.
    std::size_t events() const { return events_; }

private:
    void readMore(std::size_t expectedBytes, std::string* kept)
    {
        const std::size_t got = socket_.readSome(buffer_);
        if (got == 0)
            throw std::runtime_error("the peer closed the connection");
        const std::string_view chunk(buffer_.data(), got);
        if (kept)
            kept->append(chunk);
        ends_.scan(chunk, [&](char kind, std::size_t bytes) {
            if (kind == static_cast<char>(tcf::MessageKind::Event)) {
                ++events_;
                return;
            }
            if (expectedBytes != 0 && bytes != expectedBytes)
                throw std::runtime_error("an answer of " + std::to_string(bytes) + " bytes, not " + std::to_string(expectedBytes));
            ++answers_;
        });
    }

    const Socket& socket_;
    MessageEnds ends_;
    std::size_t answers_ = 0;
    std::size_t events_ = 0;
    // On a page boundary: the kernel copies a large reply into a buffer at an unlucky offset at
    // half the speed, and where the buffer fell moved with the libraries a bench linked, so the
    // limit of a pipelined 64 KiB read measured 30,000 or 60,000 replies/s by the build alone.
    alignas(4096) std::array<char, 1 << 18> buffer_;
};

inline const std::string& helloMessage()
{
    static const std::string hello = tcf::encodeMessage({tcf::MessageKind::Event, {"Locator", "Hello", "[]"}});
    return hello;
}

/// Says Hello on `socket` and waits for the peer's, as a TCF peer must before any command.
inline void exchangeHellos(const Socket& socket, MessageReader& reader)
{
    socket.writeAll(helloMessage());
    reader.awaitEvent();
}

/// Round trips per second of one client over `seconds`, keeping `inFlight` requests outstanding.
inline double clientRate(std::uint16_t port, const Exchange& exchange, std::size_t inFlight, double seconds)
{
    const auto socket = connectLoopback(port);
    MessageReader reader(socket);
    if (exchange.hello)
        exchangeHellos(socket, reader);
    for (std::size_t i = 1; i < inFlight; ++i)
        socket.writeAll(exchange.request);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    std::size_t trips = 0;
    while ((trips & 63) != 0 || Clock::now() < end) {
        socket.writeAll(exchange.request);
        reader.awaitAnswers(1, exchange.replyBytes);
        ++trips;
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (inFlight > 1)
        reader.awaitAnswers(inFlight - 1, exchange.replyBytes);
    return static_cast<double>(trips) / elapsed;
}

/// The summed rate of `clients` clients running at once.
inline double rate(std::uint16_t port, const Exchange& exchange, int clients, std::size_t inFlight, double seconds)
{
    std::vector<double> rates(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    for (auto& each : rates)
        threads.emplace_back([&] { each = clientRate(port, exchange, inFlight, seconds); });
    for (auto& thread : threads)
        thread.join();
    double sum = 0;
    for (const double each : rates)
        sum += each;
    return sum;
}

/// The bytes of the first reply the server at `port` gives to `exchange`'s request.
inline std::string firstReply(std::uint16_t port, const Exchange& exchange)
{
    const auto socket = connectLoopback(port);
    MessageReader reader(socket);
    if (exchange.hello)
        exchangeHellos(socket, reader);
    socket.writeAll(exchange.request);
    return reader.awaitAnswers(1, 0, true);
}

/// Work done on a copy of the reply before each answer, in place: what making the reply costs a
/// server that cannot send the same bytes every time.
using RemakeReply = std::function<void(std::string& reply)>;

/// The plain server: one blocking thread a connection. With no reply given it echoes what it
/// reads; with one, it answers each message it reads with those bytes, one write for all the
/// messages a read completed; with `remake`, each answer is a copy of the reply remade by it.
class PlainServer {
public:
    explicit PlainServer(std::string reply = {}, RemakeReply remake = {})
        : reply_(std::move(reply)), remake_(std::move(remake)), listener_(::socket(AF_INET, SOCK_STREAM, 0))
    {
        const auto address = loopback(0);
        if (::bind(listener_.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_.fd(), 64) != 0)
            throw std::runtime_error("the plain server cannot listen");
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        ::getsockname(listener_.fd(), reinterpret_cast<sockaddr*>(&bound), &length);
        port_ = ntohs(bound.sin_port);
        acceptor_ = std::thread([this] { acceptAll(); });
    }
    ~PlainServer()
    {
        ::shutdown(listener_.fd(), SHUT_RDWR);
        acceptor_.join();
        const std::lock_guard lock(mutex_);
        for (auto& connection : connections_) {
            ::shutdown(connection->socket.fd(), SHUT_RDWR);
            connection->thread.join();
        }
    }
    PlainServer(const PlainServer&) = delete;
    PlainServer& operator=(const PlainServer&) = delete;

    std::uint16_t port() const { return port_; }

private:
    struct Connection {
        explicit Connection(int fd) : socket(fd) {}
        Socket socket;
        std::thread thread;
    };

    void acceptAll()
    {
        for (;;) {
            const int fd = ::accept(listener_.fd(), nullptr, nullptr);
            if (fd < 0)
                return;
            setNoDelay(fd);
            const std::lock_guard lock(mutex_);
            auto connection = std::make_unique<Connection>(fd);
            connection->thread = std::thread([this, &socket = connection->socket] { serve(socket); });
            connections_.push_back(std::move(connection));
        }
    }

    void serve(const Socket& socket) const
    {
        std::array<char, 1 << 16> buffer;
        MessageEnds ends;
        std::vector<iovec> replies;
        // One copy a message of the largest read so far, kept from read to read so that only the
        // remaking is paid for; a deque, since a copy must not move while its answer waits.
        std::deque<std::string> copies;
        try {
            for (;;) {
                const std::size_t got = socket.readSome(buffer);
                if (got == 0)
                    return;
                if (reply_.empty()) {
                    socket.writeAll({buffer.data(), got});
                    continue;
                }
                replies.clear();
                ends.scan({buffer.data(), got}, [&](char, std::size_t) {
                    if (!remake_) {
                        replies.push_back({const_cast<char*>(reply_.data()), reply_.size()});
                        return;
                    }
                    if (replies.size() == copies.size())
                        copies.push_back(reply_);
                    std::string& copy = copies[replies.size()];
                    remake_(copy);
                    replies.push_back({copy.data(), copy.size()});
                });
                writeAll(socket, replies);
            }
        } catch (const std::runtime_error&) {
            // The client went: this connection is done.
        }
    }

    static void writeAll(const Socket& socket, std::vector<iovec>& parts)
    {
        std::size_t first = 0;
        while (first < parts.size()) {
            const ssize_t written = ::writev(socket.fd(), &parts[first], static_cast<int>(std::min<std::size_t>(parts.size() - first, IOV_MAX)));
            if (written <= 0)
                throw std::runtime_error("write failed");
            auto left = static_cast<std::size_t>(written);
            while (first < parts.size() && left >= parts[first].iov_len)
                left -= parts[first++].iov_len;
            if (first < parts.size()) {
                parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + left;
                parts[first].iov_len -= left;
            }
        }
    }

    const std::string reply_;
    const RemakeReply remake_;
    Socket listener_;
    std::uint16_t port_ = 0;
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

/// The plain server in a process of its own, as the back-end is. Wake-ups between a client and a
/// server that share the client's process switch no address space, and on this machine (a
/// virtual one) that made the same echo a quarter faster with four clients: an advantage no
/// server can have. The child runs nothing but the server, which glibc's fork allows also in a
/// process that has threads.
class PlainServerProcess {
public:
    explicit PlainServerProcess(std::string reply = {}, RemakeReply remake = {})
    {
        int toParent[2];
        int toChild[2];
        if (::pipe(toParent) != 0 || ::pipe(toChild) != 0)
            throw std::runtime_error("no pipe for the plain server process");
        pid_ = ::fork();
        if (pid_ < 0)
            throw std::runtime_error("cannot fork the plain server process");
        if (pid_ == 0) {
            ::close(toParent[0]);
            ::close(toChild[1]);
            {
                PlainServer server(std::move(reply), std::move(remake));
                const std::uint16_t port = server.port();
                (void)!::write(toParent[1], &port, sizeof port);
                char ignored;
                (void)!::read(toChild[0], &ignored, 1); // until the parent closes its end
            }
            ::_exit(0);
        }
        ::close(toParent[1]);
        ::close(toChild[0]);
        stop_ = toChild[1];
        if (::read(toParent[0], &port_, sizeof port_) != sizeof port_)
            throw std::runtime_error("the plain server process did not start");
        ::close(toParent[0]);
    }
    ~PlainServerProcess()
    {
        ::close(stop_);
        ::waitpid(pid_, nullptr, 0);
    }
    PlainServerProcess(const PlainServerProcess&) = delete;
    PlainServerProcess& operator=(const PlainServerProcess&) = delete;

    std::uint16_t port() const { return port_; }

private:
    pid_t pid_ = -1;
    int stop_ = -1;
    std::uint16_t port_ = 0;
};

/// Measures each side in turn, `rounds` times, so that both see the same moments of the
/// machine's load; returns each side's figures, one a round.
inline std::vector<std::vector<double>> interleave(int rounds, const std::vector<std::function<double()>>& sides)
{
    std::vector<std::vector<double>> figures(sides.size());
    for (int round = 0; round < rounds; ++round)
        for (std::size_t side = 0; side < sides.size(); ++side)
            figures[side].push_back(sides[side]());
    return figures;
}

/// Each round's `numerators` over its `denominators`.
inline std::vector<double> ratios(const std::vector<double>& numerators, const std::vector<double>& denominators)
{
    std::vector<double> result;
    for (std::size_t i = 0; i < numerators.size(); ++i)
        result.push_back(numerators[i] / denominators[i]);
    return result;
}

/// "median (min - max)", with `decimals` after the point.
inline std::string spread(const std::vector<double>& values, int decimals)
{
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    const auto text = [&](double value) {
        char out[32];
        std::snprintf(out, sizeof out, "%.*f", decimals, value);
        return std::string(out);
    };
    return text(median(values)) + " (" + text(*low) + " - " + text(*high) + ")";
}

} // namespace hil::bench::plain
