// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbserver/GdbServer.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/common/BackendLogger.h"
#include "platform/common/ThreadName.h"
#include "platform/rsp/PacketReader.h"
#include "platform/rsp/RspCodec.h"

namespace hil::gdbserver {

namespace {

const std::string kLog = "gdbserver";
/// How long a refused gdb has to send its first packet.
constexpr int kRefusalWaitMs = 2000;
/// How long the acceptor waits after a failed accept.
constexpr int kAcceptRetryMs = 100;

/// The model's client numbers of gdb sessions: negative, so never a TCF channel's.
int nextClient()
{
    static std::atomic<int> last{0};
    return --last;
}

std::runtime_error socketError(const std::string& what) { return std::runtime_error(what + ": " + std::strerror(errno)); }

} // namespace

GdbServer::GdbServer(std::shared_ptr<const ServedTarget> target, const std::string& address, std::uint16_t port)
    : target_(std::move(target)), address_(address)
{
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &bound.sin_addr) != 1)
        throw std::runtime_error("\"" + address + "\" is no IPv4 address for a GDB server");
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw socketError("no socket for a GDB server");
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int pipeEnds[2];
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 || ::listen(listener_, 4) != 0 ||
        ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        const auto error = socketError("The GDB server cannot listen on " + address + ":" + std::to_string(port));
        ::close(listener_);
        throw error;
    }
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    socklen_t length = sizeof bound;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
    name_ = "GDB server on " + address_ + ":" + std::to_string(port_);
    // On the model's events thread, with the model locked: hand on, never wait.
    events_ = target_->model->connectRunEvents([holder = holder_, id = target_->id](const debugging::RunEvent& event) {
        if (event.targetId != id)
            return;
        std::lock_guard lock(holder->mutex);
        if (holder->session)
            holder->session->tell(event);
    });
    acceptor_ = std::thread([this] {
        setCurrentThreadName("gdb server");
        acceptConnections();
    });
    BackendLogger::info(kLog, name_ + " serves " + target_->id);
}

GdbServer::~GdbServer()
{
    events_.disconnect();
    const char byte = 0;
    [[maybe_unused]] const auto written = ::write(wakeWrite_, &byte, 1);
    acceptor_.join();
    std::unique_ptr<GdbSession> session;
    {
        std::lock_guard lock(holder_->mutex);
        session = std::move(holder_->session);
    }
    session.reset(); // joins its thread, which may wait for the model: never under the lock
    ::close(listener_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
    BackendLogger::info(kLog, name_ + " closed");
}

boost::json::object GdbServer::describe() const
{
    std::lock_guard lock(holder_->mutex);
    boost::json::value client = nullptr;
    if (holder_->session && !holder_->session->ended())
        client = holder_->session->peer();
    return {{"TargetID", target_->id}, {"Address", address_}, {"Port", port_}, {"Client", client}};
}

void GdbServer::acceptConnections()
{
    for (;;) {
        pollfd watched[2] = {{wakeRead_, POLLIN, 0}, {listener_, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR)
            return;
        if (watched[0].revents)
            return;
        if (!watched[1].revents)
            continue;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            // Out of descriptors, say: the listener stays readable, so wait before trying again.
            if (errno != EINTR && errno != ECONNABORTED)
                ::poll(watched, 1, kAcceptRetryMs);
            continue;
        }
        std::unique_ptr<GdbSession> finished;
        std::string holder;
        {
            std::lock_guard lock(holder_->mutex);
            if (holder_->session && !holder_->session->ended()) {
                holder = holder_->session->peer();
            } else {
                finished = std::move(holder_->session);
                try {
                    holder_->session = std::make_unique<GdbSession>(connection, target_, name_, nextClient());
                } catch (const std::exception& error) {
                    BackendLogger::error(kLog, name_ + ": " + error.what());
                }
            }
        }
        if (!holder.empty()) {
            refuse(connection, holder);
            ::close(connection);
        }
    }
}

void GdbServer::refuse(int socket, const std::string& holder) const
{
    // gdb reads a reply to its first packet: the refusal is that reply, so gdb prints it.
    // One deadline for all of it, and the server's own stop ends it: a peer that trickles bytes
    // holds nothing up.
    rsp::PacketReader reader(GdbSession::kPacketSize);
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRefusalWaitMs);
    bool asked = false;
    while (!asked) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd watched[2] = {{wakeRead_, POLLIN, 0}, {socket, POLLIN, 0}};
        if (left.count() <= 0 || ::poll(watched, 2, static_cast<int>(left.count())) <= 0 || watched[0].revents)
            return;
        const auto received = ::recv(socket, buffer, sizeof buffer, 0);
        if (received <= 0)
            return;
        try {
            for (const auto& item : reader.feed(std::string_view(buffer, static_cast<std::size_t>(received))))
                asked = asked || item.kind == rsp::PacketReader::Kind::Packet;
        } catch (const std::runtime_error&) {
            return;
        }
    }
    const std::string text = "E." + name_ + " serves one gdb at a time, and gdb at " + holder + " holds " + target_->id;
    const std::string reply = "+" + rsp::frame(text);
    [[maybe_unused]] const auto sent = ::send(socket, reply.data(), reply.size(), MSG_NOSIGNAL);
    BackendLogger::info(kLog, name_ + ": refused a second gdb; " + holder + " holds the target");
}

} // namespace hil::gdbserver
