// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <array>
#include <deque>
#include <string>
#include <vector>

#include <boost/asio.hpp>

#include "platform/tcf/MessageCodec.h"

namespace hil::bench {

/// Connects `socket` to the loopback `port` as every benchmark client does: no delay, and a
/// fixed 4 MiB receive buffer. Left to the kernel's tuning, the buffer of a client with several
/// large replies in flight sometimes stays small for the whole run, which halves its rate at
/// random; a fixed size makes runs comparable.
inline void connectBenchmarkSocket(boost::asio::ip::tcp::socket& socket, std::uint16_t port)
{
    socket.open(boost::asio::ip::tcp::v4());
    socket.set_option(boost::asio::socket_base::receive_buffer_size(4 << 20));
    socket.connect({boost::asio::ip::make_address("127.0.0.1"), port});
    socket.set_option(boost::asio::ip::tcp::no_delay(true));
}

/// A TCF client on the calling thread: it writes commands and decodes the replies itself, so that
/// a benchmark of a target times the back-end and not the hand-overs between a client's threads.
class SyncTcfClient {
public:
    explicit SyncTcfClient(std::uint16_t port) : socket_(io_)
    {
        connectBenchmarkSocket(socket_, port);
        boost::asio::write(socket_, boost::asio::buffer(hil::tcf::encodeMessage(
                                        {hil::tcf::MessageKind::Event, {"Locator", "Hello", "[]"}})));
        receive(hil::tcf::MessageKind::Event);
    }

    void send(const std::string& service, const std::string& command, const std::vector<std::string>& arguments)
    {
        std::vector<std::string> fields{std::to_string(++token_), service, command};
        fields.insert(fields.end(), arguments.begin(), arguments.end());
        boost::asio::write(socket_, boost::asio::buffer(hil::tcf::encodeMessage({hil::tcf::MessageKind::Command, fields})));
    }

    /// Sends a command and waits for its reply: the reply's values, without the token.
    std::vector<std::string> call(const std::string& service, const std::string& command,
                                  const std::vector<std::string>& arguments)
    {
        send(service, command, arguments);
        auto reply = receive(hil::tcf::MessageKind::Reply);
        return {reply.fields.begin() + 1, reply.fields.end()};
    }

    /// Sets up the GDB remote tool on a QEMU the back-end starts, and connects it ("gdbremote-1");
    /// false when the back-end could not.
    bool connectQemuTool()
    {
        return call("Tool", "setupTool", {R"("com.velmora.hil.gdbremote")", R"("com.velmora.hil.connection.qemu")", "{}"})
                       .at(0) == "" &&
               call("Tool", "connect", {R"("gdbremote-1")"}).at(0) == "";
    }

    /// The next message of that kind; events that arrive meanwhile are passed over.
    hil::tcf::Message receive(hil::tcf::MessageKind kind)
    {
        return receiveFirst([kind](const hil::tcf::Message& message) { return message.kind == kind; });
    }

    /// The next event `name` of `service`; replies that arrive meanwhile are kept for `receive`,
    /// other events passed over.
    hil::tcf::Message receiveEvent(const std::string& service, const std::string& name)
    {
        return receiveFirst([&](const hil::tcf::Message& message) {
            return message.kind == hil::tcf::MessageKind::Event && message.fields.size() >= 2 &&
                   message.fields[0] == service && message.fields[1] == name;
        });
    }

private:
    template <class Wanted>
    hil::tcf::Message receiveFirst(const Wanted& wanted)
    {
        for (;;) {
            const auto found = std::find_if(received_.begin(), received_.end(), wanted);
            if (found != received_.end()) {
                auto message = std::move(*found);
                received_.erase(found);
                return message;
            }
            const std::size_t count = socket_.read_some(boost::asio::buffer(buffer_));
            decoder_.feed({buffer_.data(), count}, [&](hil::tcf::Message&& message) {
                if (message.kind != hil::tcf::MessageKind::Event || wanted(message))
                    received_.push_back(std::move(message));
            });
        }
    }

    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    hil::tcf::MessageDecoder decoder_;
    std::array<char, 1 << 17> buffer_;
    std::deque<hil::tcf::Message> received_;
    int token_ = 0;
};

} // namespace hil::bench
