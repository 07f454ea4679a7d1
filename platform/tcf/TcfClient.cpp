// SPDX-License-Identifier: Apache-2.0
#include "platform/tcf/TcfClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/write.hpp>
#include <boost/json.hpp>

namespace hil::tcf {

TcfClient::TcfClient() : socket_(io_) {}

TcfClient::~TcfClient() { close(); }

void TcfClient::connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout)
{
    try {
        boost::asio::ip::tcp::resolver resolver(io_);
        boost::asio::connect(socket_, resolver.resolve(host, std::to_string(port)));
        socket_.set_option(boost::asio::ip::tcp::no_delay(true));
    } catch (const boost::system::system_error& error) {
        throw Error("cannot connect to " + host + ":" + std::to_string(port) + ": " + error.code().message());
    }
    reader_ = std::thread([this] { readLoop(); });
    sendRaw(encodeMessage({MessageKind::Event, {"Locator", "Hello", "[]"}}));
    std::unique_lock lock(stateMutex_);
    if (!stateChanged_.wait_for(lock, timeout, [this] { return helloReceived_ || closed_; }) || !helloReceived_)
        throw Error("no Hello from " + host + ":" + std::to_string(port));
}

std::future<TcfClient::Reply> TcfClient::send(const std::string& service, const std::string& command,
                                              const std::vector<std::string>& arguments, ProgressHandler onProgress)
{
    std::string token;
    std::future<Reply> reply;
    {
        std::lock_guard lock(stateMutex_);
        if (closed_)
            throw Error("connection closed");
        token = std::to_string(nextToken_++);
        auto& pending = pending_[token];
        pending.onProgress = std::move(onProgress);
        reply = pending.reply.get_future();
    }
    std::vector<std::string> fields{token, service, command};
    fields.insert(fields.end(), arguments.begin(), arguments.end());
    std::string bytes;
    appendEncodedMessage(MessageKind::Command, fields, bytes);
    sendRaw(bytes);
    return reply;
}

TcfClient::Reply TcfClient::call(const std::string& service, const std::string& command,
                                 const std::vector<std::string>& arguments, std::chrono::milliseconds timeout)
{
    auto reply = send(service, command, arguments);
    if (reply.wait_for(timeout) != std::future_status::ready)
        throw Error("no reply to " + service + " " + command + " within " + std::to_string(timeout.count()) + " ms");
    return reply.get();
}

void TcfClient::sendRaw(const std::string& bytes)
{
    std::lock_guard lock(writeMutex_);
    boost::system::error_code error;
    boost::asio::write(socket_, boost::asio::buffer(bytes), error);
    if (error)
        throw Error("cannot send: " + error.message());
}

void TcfClient::readLoop()
{
    MessageDecoder decoder;
    std::string buffer(64 * 1024, '\0');
    std::string reason = "connection closed by the peer";
    try {
        while (!decoder.atEndOfStream()) {
            boost::system::error_code error;
            const std::size_t n = socket_.read_some(boost::asio::buffer(buffer), error);
            if (error)
                break;
            decoder.feed(std::string_view(buffer.data(), n), [this](Message&& message) { onMessage(std::move(message)); });
        }
    } catch (const DecodeError& error) {
        reason = std::string("malformed data from the peer: ") + error.what();
    }
    failPending(reason);
}

void TcfClient::onMessage(Message&& message)
{
    switch (message.kind) {
    case MessageKind::Event:
        if (message.fields[0] == "Locator" && message.fields[1] == "Hello") {
            boost::system::error_code error;
            const auto names = boost::json::parse(message.fields.size() > 2 ? message.fields[2] : "[]", error);
            std::lock_guard lock(stateMutex_);
            if (!error && names.is_array())
                for (const auto& name : names.get_array())
                    if (name.is_string())
                        peerServices_.emplace_back(name.get_string());
            helloReceived_ = true;
            stateChanged_.notify_all();
        } else {
            // Called under its lock: once `setEventHandler` returned, the old handler is not running.
            std::lock_guard lock(eventMutex_);
            if (eventHandler_)
                eventHandler_(message.fields[0], message.fields[1],
                              std::vector<std::string>(message.fields.begin() + 2, message.fields.end()));
        }
        return;
    case MessageKind::Progress: {
        ProgressHandler onProgress;
        {
            std::lock_guard lock(stateMutex_);
            const auto entry = pending_.find(message.fields[0]);
            if (entry != pending_.end())
                onProgress = entry->second.onProgress;
        }
        if (onProgress)
            onProgress(std::vector<std::string>(message.fields.begin() + 1, message.fields.end()));
        return;
    }
    case MessageKind::Reply:
    case MessageKind::NotRecognised: {
        std::unique_lock lock(stateMutex_);
        const auto entry = pending_.find(message.fields[0]);
        if (entry == pending_.end()) {
            ++strayReplies_;
            return;
        }
        auto promise = std::move(entry->second.reply);
        pending_.erase(entry);
        lock.unlock();
        Reply reply;
        reply.recognised = message.kind == MessageKind::Reply;
        reply.values.assign(std::make_move_iterator(message.fields.begin() + 1), std::make_move_iterator(message.fields.end()));
        promise.set_value(std::move(reply));
        return;
    }
    case MessageKind::Command:
    case MessageKind::Flow:
        return; // we offer no services and take no flow control
    }
}

std::size_t TcfClient::strayReplies() const
{
    std::lock_guard lock(stateMutex_);
    return strayReplies_;
}

void TcfClient::failPending(const std::string& reason)
{
    std::map<std::string, Pending> failed;
    {
        std::lock_guard lock(stateMutex_);
        closed_ = true;
        failed.swap(pending_);
        stateChanged_.notify_all();
    }
    for (auto& [token, pending] : failed)
        pending.reply.set_exception(std::make_exception_ptr(Error(reason)));
}

bool TcfClient::waitUntilClosed(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(stateMutex_);
    return stateChanged_.wait_for(lock, timeout, [this] { return closed_; });
}

void TcfClient::close()
{
    boost::system::error_code ignored;
    socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    if (reader_.joinable())
        reader_.join();
    socket_.close(ignored);
}

} // namespace hil::tcf
