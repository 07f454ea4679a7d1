// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbserver/GdbSession.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/json.hpp>

#include "core/frame/ErrorDescr.h"
#include "core/interfaces/IRunControl.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/Status.h"
#include "platform/common/ThreadName.h"
#include "platform/rsp/RspCodec.h"

namespace hil::gdbserver {

namespace {

const std::string kLog = "gdbserver";

// The error numbers of the replies gdb gets: errno values, as servers in the field send them.
constexpr int kBadRequest = 0x01; // EPERM: a packet that is not what its name promises
constexpr int kFault = 0x0e;      // EFAULT: memory that does not answer
constexpr int kInvalid = 0x16;    // EINVAL: a value out of range

// Stop signals: a trap for every stop the target made, an interrupt for a halt.
constexpr int kSigTrap = 5;
constexpr int kSigKill = 9;

constexpr std::uint64_t kBusEnd = std::uint64_t{1} << 32;
constexpr std::int64_t kStepInto = 2;
constexpr std::size_t kReadBuffer = 65536;

/// A request gdb sent that cannot be served: answered with its error number (and its text when
/// gdb takes text).
struct PacketError {
    int number;
    std::string text;
};

[[noreturn]] void refuse(int number, std::string text) { throw PacketError{number, std::move(text)}; }

std::string hexNumber(std::uint64_t value)
{
    char text[20];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

std::uint64_t number(std::string_view text, const char* what)
{
    const auto value = rsp::parseHexNumber(text);
    if (!value)
        refuse(kBadRequest, std::string("\"") + std::string(text.substr(0, 20)) + "\" is no hex " + what);
    return *value;
}

/// "ADDR,LEN" and what follows `separator`, for m, M, X, Z and z.
struct AddressAndLength {
    std::uint64_t address;
    std::uint64_t length;
    std::string_view rest;
};

AddressAndLength addressAndLength(std::string_view arguments, char separator)
{
    const auto comma = arguments.find(',');
    if (comma == std::string_view::npos)
        refuse(kBadRequest, "an address and a length are separated by a comma");
    const auto end = separator ? arguments.find(separator, comma) : std::string_view::npos;
    if (separator && end == std::string_view::npos)
        refuse(kBadRequest, std::string("the length ends with '") + separator + "'");
    AddressAndLength parsed{number(arguments.substr(0, comma), "address"),
                            number(arguments.substr(comma + 1, end == std::string_view::npos ? end : end - comma - 1), "length"),
                            end == std::string_view::npos ? std::string_view{} : arguments.substr(end + 1)};
    if (parsed.address >= kBusEnd || parsed.length > kBusEnd - parsed.address)
        refuse(kInvalid, "0x" + hexNumber(parsed.address) + " and 0x" + hexNumber(parsed.length) +
                             " bytes on lie past the 32-bit bus");
    return parsed;
}

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::string peerOf(int socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.ss_family != AF_INET)
        return "?";
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    char host[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(in.sin_port));
}

} // namespace

const std::map<std::string, GdbSession::Handler, std::less<>>& GdbSession::handlers()
{
    // Named packets by the name before their first ':', ',' or ';'; the others by their letter.
    static const std::map<std::string, Handler, std::less<>> table{
        {"qSupported", &GdbSession::onSupported},
        {"QStartNoAckMode", &GdbSession::onNoAck},
        {"qXfer", &GdbSession::onTransfer},
        {"?", &GdbSession::onStopReason},
        {"g", &GdbSession::onReadRegisters},
        {"G", &GdbSession::onWriteRegisters},
        {"p", &GdbSession::onReadRegister},
        {"P", &GdbSession::onWriteRegister},
        {"m", &GdbSession::onReadMemory},
        {"M", &GdbSession::onWriteMemoryHex},
        {"X", &GdbSession::onWriteMemoryBinary},
        {"c", &GdbSession::onContinue},
        {"C", &GdbSession::onContinue},
        {"s", &GdbSession::onStep},
        {"S", &GdbSession::onStep},
        {"vCont?", &GdbSession::onContinueQuery},
        {"vCont", &GdbSession::onContinueActions},
        {"Z", &GdbSession::onInsertPoint},
        {"z", &GdbSession::onRemovePoint},
        {"vFlashErase", &GdbSession::onFlashErase},
        {"vFlashWrite", &GdbSession::onFlashWrite},
        {"vFlashDone", &GdbSession::onOk},
        {"qRcmd", &GdbSession::onMonitor},
        {"D", &GdbSession::onDetach},
        {"k", &GdbSession::onKill},
        {"H", &GdbSession::onOk},
        {"T", &GdbSession::onOk},
        {"!", &GdbSession::onOk},
        {"qSymbol", &GdbSession::onOk},
        {"qC", &GdbSession::onCurrentThread},
        {"qfThreadInfo", &GdbSession::onFirstThreads},
        {"qsThreadInfo", &GdbSession::onNextThreads},
        {"qAttached", &GdbSession::onAttached},
        {"qOffsets", &GdbSession::onOffsets},
    };
    return table;
}

GdbSession::GdbSession(int socket, std::shared_ptr<const ServedTarget> target, std::string name, int client)
    : target_(std::move(target)), name_(std::move(name)), client_(client), socket_(socket), peer_(peerOf(socket)),
      reader_(2 * kPacketSize)
{
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(socket_);
        throw std::runtime_error("no pipe for a GDB session");
    }
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    const int on = 1;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (target_->memory)
        memoryWatch_ = target_->memory->addMemoryChangedHandler(
            [written = memoryWritten_](const std::shared_ptr<IMemoryContext>&, const MemoryRanges&) { *written = true; });
    thread_ = std::thread([this] {
        setCurrentThreadName("gdb session");
        run();
    });
}

GdbSession::~GdbSession()
{
    {
        // Wakes a thread blocked in a send to a gdb that does not read.
        std::lock_guard lock(socketMutex_);
        if (socket_ >= 0)
            ::shutdown(socket_, SHUT_RDWR);
    }
    wake();
    if (thread_.joinable())
        thread_.join();
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void GdbSession::tell(const debugging::RunEvent& event)
{
    if (event.targetId != target_->id)
        return;
    {
        std::lock_guard lock(eventsMutex_);
        events_.push_back(event);
    }
    wake();
}

void GdbSession::wake()
{
    const char byte = 0;
    [[maybe_unused]] const auto written = ::write(wakeWrite_, &byte, 1); // full: a wake is pending anyway
}

void GdbSession::run()
{
    BackendLogger::info(kLog, name_ + ": gdb connected from " + peer_);
    std::vector<char> buffer(kReadBuffer);
    while (!ended_) {
        pollfd watched[2] = {{wakeRead_, POLLIN, 0}, {socket_, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR)
            break;
        if (watched[0].revents) {
            char drained[64];
            while (::read(wakeRead_, drained, sizeof drained) > 0) {
            }
            handleEvents();
        }
        if (ended_ || !watched[1].revents)
            continue;
        const auto received = ::recv(socket_, buffer.data(), buffer.size(), 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            break;
        try {
            for (auto& item : reader_.feed(std::string_view(buffer.data(), static_cast<std::size_t>(received)))) {
                handleItem(item);
                if (ended_)
                    break;
            }
        } catch (const std::runtime_error& error) {
            BackendLogger::error(kLog, name_ + ": closing the connection of " + peer_ + ": " + error.what());
            break;
        }
    }
    dropBreakpoints();
    ended_ = true;
    {
        // Closed now, not when the next gdb comes: a peer still sending (a huge packet) is told
        // at once, and the descriptor is not held.
        std::lock_guard lock(socketMutex_);
        ::close(socket_);
        socket_ = -1;
    }
    BackendLogger::info(kLog, name_ + ": gdb at " + peer_ + " left");
}

void GdbSession::handleEvents()
{
    std::deque<debugging::RunEvent> events;
    {
        std::lock_guard lock(eventsMutex_);
        events.swap(events_);
    }
    for (const auto& event : events) {
        const bool awaited = waiting_ && event.sequence > waiting_->after;
        switch (event.kind) {
        case debugging::RunEvent::Kind::Suspended:
            forgetMemory();
            if (awaited && waiting_->resumeSeen) {
                waiting_.reset();
                send(stopReply(event.state));
            }
            break;
        case debugging::RunEvent::Kind::Resumed:
            forgetMemory();
            if (awaited)
                waiting_->resumeSeen = true;
            break;
        case debugging::RunEvent::Kind::Exception:
            if (awaited) {
                waiting_.reset();
                send(error(kFault, event.text));
            }
            break;
        case debugging::RunEvent::Kind::Removed:
            // gdb hears that its program is gone, then the connection ends.
            if (waiting_)
                send("X" + std::string(rsp::toHex(std::string(1, static_cast<char>(kSigKill)))));
            BackendLogger::info(kLog, name_ + ": the target went" + (event.text.empty() ? "" : ": " + event.text));
            ended_ = true;
            return;
        case debugging::RunEvent::Kind::Added:
            break;
        }
    }
}

void GdbSession::handleItem(rsp::PacketReader::Item& item)
{
    using Kind = rsp::PacketReader::Kind;
    switch (item.kind) {
    case Kind::Packet:
        if (ackMode_)
            sendRaw("+");
        handleEvents(); // a packet is answered from what has been told so far
        if (postedWriteFailure_) {
            // The write gdb was told "OK" for failed: the next packet, whatever it is, says so.
            send(error(kFault, *postedWriteFailure_));
            postedWriteFailure_.reset();
        } else if (const auto reply = answer(item.payload)) {
            send(*reply);
        }
        finishPostedWrite();
        readAhead();
        break;
    case Kind::BadChecksum:
        if (ackMode_)
            sendRaw("-");
        break;
    case Kind::Nak:
        if (ackMode_ && !lastSent_.empty())
            sendRaw(lastSent_);
        break;
    case Kind::Interrupt:
        try {
            if (waiting_)
                interrupt();
        } catch (const std::exception& failure) {
            BackendLogger::error(kLog, name_ + ": the interrupt failed: " + failure.what());
        }
        break;
    case Kind::Ack:
    case Kind::Notification:
        break;
    }
}

GdbSession::Reply GdbSession::answer(std::string_view packet)
{
    if (packet.empty())
        return std::string();
    std::string_view name = packet.substr(0, 1);
    if (packet[0] == 'q' || packet[0] == 'Q' || packet[0] == 'v')
        name = packet.substr(0, packet.find_first_of(":,;"));
    const auto found = handlers().find(name);
    if (found == handlers().end())
        return std::string(); // the protocol's "not supported"
    const auto arguments = packet.substr(std::min(packet.size(), name.size() + (packet[0] == 'q' || packet[0] == 'Q' || packet[0] == 'v' ? 1 : 0)));
    // The one place a failed request becomes its error reply; gdb shows only the number, the
    // log keeps the words.
    const auto refuse = [&](int number, const std::string& text) {
        BackendLogger::info(kLog, name_ + ": " + rsp::describeRequest(packet) + " failed: " + text);
        return error(number, text);
    };
    try {
        return (this->*found->second)(arguments);
    } catch (const PacketError& refused) {
        return refuse(refused.number, refused.text);
    } catch (const ErrorDescr& failure) {
        return refuse(kFault, failure.format);
    } catch (const std::exception& failure) {
        return refuse(kFault, failure.what());
    }
}

std::string GdbSession::error(int number, const std::string& text) const
{
    if (textErrors_ && !text.empty())
        return "E." + text;
    char reply[4];
    std::snprintf(reply, sizeof reply, "E%02x", number & 0xff);
    return reply;
}

void GdbSession::send(const std::string& payload) { sendRaw(rsp::frame(payload)); }

void GdbSession::sendRaw(const std::string& bytes)
{
    if (bytes.size() > 1)
        lastSent_ = bytes;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto written = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ended_ = true;
            return;
        }
        sent += static_cast<std::size_t>(written);
    }
}

// ---- what gdb asks first

GdbSession::Reply GdbSession::onSupported(std::string_view arguments)
{
    for (const auto& [feature, value] : rsp::parseFeatures(arguments)) {
        if (value != "+")
            continue;
        textErrors_ = textErrors_ || feature == "error-message";
        reportsSoftwareBreaks_ = reportsSoftwareBreaks_ || feature == "swbreak";
        reportsHardwareBreaks_ = reportsHardwareBreaks_ || feature == "hwbreak";
    }
    std::string reply = "PacketSize=" + hexNumber(kPacketSize) +
                        ";qXfer:features:read+;QStartNoAckMode+;vContSupported+;swbreak+;hwbreak+";
    if (!target_->memoryMap.empty())
        reply += ";qXfer:memory-map:read+";
    return reply;
}

GdbSession::Reply GdbSession::onNoAck(std::string_view)
{
    // The OK still travels with an acknowledgement; nothing after it does.
    send("OK");
    ackMode_ = false;
    return std::nullopt;
}

GdbSession::Reply GdbSession::onTransfer(std::string_view arguments)
{
    // features:read:ANNEX:OFFSET,LENGTH or memory-map:read::OFFSET,LENGTH
    std::string document;
    std::string_view where;
    if (arguments.starts_with("features:read:target.xml:")) {
        document = target_->targetXml;
        where = arguments.substr(std::string_view("features:read:target.xml:").size());
    } else if (arguments.starts_with("memory-map:read::") && !target_->memoryMap.empty()) {
        document = memoryMapXml(target_->memoryMap);
        where = arguments.substr(std::string_view("memory-map:read::").size());
    } else if (arguments.starts_with("features:read:")) {
        refuse(0, "there is no such annex");
    } else {
        return std::string();
    }
    const auto slice = addressAndLength(where, 0);
    if (slice.address >= document.size())
        return std::string("l");
    const auto piece = document.substr(slice.address, slice.length);
    return (slice.address + piece.size() < document.size() ? "m" : "l") + piece;
}

GdbSession::Reply GdbSession::stopNowOrNext(bool halt)
{
    // Counted before the state is read: a stop between the two is either seen as the state or
    // told after the count.
    const auto after = target_->model->eventsTold();
    const auto state = target_->model->state(target_->id);
    if (state.suspended)
        return stopReply(state);
    waiting_ = Waiting{after, true};
    if (halt) {
        try {
            interrupt();
        } catch (...) {
            waiting_.reset();
            throw;
        }
    }
    return std::nullopt;
}

// gdb stops what it attaches to.
GdbSession::Reply GdbSession::onStopReason(std::string_view) { return stopNowOrNext(true); }

std::string GdbSession::stopReply(const debugging::RunState& state) const
{
    int signal = kSigTrap;
    if (const auto* given = state.data.if_contains("Signal"); given && given->is_int64())
        signal = static_cast<int>(given->get_int64());
    std::string reply = "T" + rsp::toHex(std::string(1, static_cast<char>(signal)));
    // A stop at one of gdb's own points names its kind; another front-end's is a breakpoint too.
    const auto ownPoint = [&](auto&& matches) -> std::optional<int> {
        for (const auto& [place, id] : points_)
            if (matches(std::get<0>(place), std::get<1>(place), std::get<2>(place), id))
                return std::get<0>(place);
        return std::nullopt;
    };
    if (const auto* address = state.data.if_contains("DataAddress"); address && address->is_number()) {
        const auto data = address->to_number<std::uint64_t>();
        const auto type = ownPoint([&](int kind, std::uint64_t at, std::uint64_t length, const std::string&) {
            return kind >= 2 && data >= at && data < at + length;
        });
        static const char* const names[] = {"watch", "rwatch", "awatch"};
        reply += std::string(names[type ? *type - 2 : 0]) + ":" + hexNumber(data) + ";";
    } else if (state.reason == "Breakpoint") {
        std::set<std::string> hit;
        if (const auto* ids = state.data.if_contains("BPs"); ids && ids->is_array())
            for (const auto& id : ids->get_array())
                if (id.is_string())
                    hit.insert(std::string(id.get_string()));
        const auto type = ownPoint([&](int, std::uint64_t, std::uint64_t, const std::string& id) { return hit.contains(id); });
        if (type == 1 && reportsHardwareBreaks_)
            reply += "hwbreak:;";
        else if (type != 1 && reportsSoftwareBreaks_)
            reply += "swbreak:;";
    }
    // The PC and SP travel with the stop: gdb need not ask for them.
    for (const char* name : {"pc", "sp"}) {
        const auto slot = std::find_if(target_->registers.begin(), target_->registers.end(),
                                       [&](const RegisterSlot& candidate) { return candidate.name == name; });
        if (slot == target_->registers.end())
            continue;
        try {
            std::vector<std::uint8_t> value(static_cast<std::size_t>(slot->bytes));
            slot->context->getValue(value);
            const auto number = static_cast<char>(slot - target_->registers.begin());
            reply += rsp::toHex(std::string(1, number)) + ":" + rsp::toHex(value.data(), value.size()) + ";";
        } catch (const std::exception&) {
            // gdb asks for what the stop reply lacks
        }
    }
    return reply + "thread:1;";
}

// ---- registers

const RegisterSlot& GdbSession::slotOf(std::string_view text) const
{
    const auto index = number(text, "register number");
    if (index >= target_->registers.size())
        refuse(kInvalid, "there is no register " + std::to_string(index));
    return target_->registers[index];
}

GdbSession::Reply GdbSession::onReadRegisters(std::string_view)
{
    std::string reply;
    for (const auto& slot : target_->registers) {
        std::vector<std::uint8_t> value(static_cast<std::size_t>(slot.bytes));
        slot.context->getValue(value);
        reply += rsp::toHex(value.data(), value.size());
    }
    return reply;
}

GdbSession::Reply GdbSession::onWriteRegisters(std::string_view arguments)
{
    const auto bytes = rsp::fromHex(arguments);
    std::size_t total = 0;
    for (const auto& slot : target_->registers)
        total += static_cast<std::size_t>(slot.bytes);
    if (!bytes || bytes->size() != total)
        refuse(kInvalid, "G carries " + std::to_string(total) + " bytes of registers, not " + std::to_string(arguments.size() / 2));
    std::size_t offset = 0;
    for (const auto& slot : target_->registers) {
        slot.context->setValue(bytesOf(std::string_view(*bytes).substr(offset, static_cast<std::size_t>(slot.bytes))));
        offset += static_cast<std::size_t>(slot.bytes);
    }
    return std::string("OK");
}

GdbSession::Reply GdbSession::onReadRegister(std::string_view arguments)
{
    const auto& slot = slotOf(arguments);
    std::vector<std::uint8_t> value(static_cast<std::size_t>(slot.bytes));
    slot.context->getValue(value);
    return rsp::toHex(value.data(), value.size());
}

GdbSession::Reply GdbSession::onWriteRegister(std::string_view arguments)
{
    const auto equals = arguments.find('=');
    if (equals == std::string_view::npos)
        refuse(kBadRequest, "P is NUMBER=VALUE");
    const auto& slot = slotOf(arguments.substr(0, equals));
    const auto value = rsp::fromHex(arguments.substr(equals + 1));
    if (!value || value->size() != static_cast<std::size_t>(slot.bytes))
        refuse(kInvalid, slot.name + " takes " + std::to_string(slot.bytes) + " bytes");
    slot.context->setValue(bytesOf(*value));
    return std::string("OK");
}

// ---- memory

MemoryErrorMapPtr GdbSession::readInto(std::uint64_t address, std::vector<std::uint8_t>& bytes)
{
    if (!target_->memory)
        refuse(kFault, "the target has no memory");
    MemoryErrorMapPtr errors;
    target_->memory->readMemory(address, 1, bytes, 0, static_cast<std::int64_t>(bytes.size()), 0, nullptr, errors);
    return errors;
}

std::optional<std::string> GdbSession::cachedRead(std::uint64_t address, std::uint64_t length)
{
    if (memoryWritten_->exchange(false))
        forgetMemory();
    const std::uint64_t first = address & ~(kLineBytes - 1);
    const std::uint64_t last = (address + length - 1) & ~(kLineBytes - 1);
    if (length == 0 || last - first > kLineBytes)
        return std::nullopt; // a bulk read: straight through
    std::string bytes;
    for (std::uint64_t line = first; line <= last; line += kLineBytes) {
        if (!plainMemory(line, kLineBytes))
            return std::nullopt;
        auto found = lines_.find(line);
        if (found == lines_.end()) {
            std::vector<std::uint8_t> read(kLineBytes);
            std::uint32_t run = 0;
            if (const auto errors = readInto(line, read); errors && (errors->getStatusAt(line, run) != 0 || (run != 0 && run < kLineBytes)))
                return std::nullopt;
            found = lines_.emplace(line, std::string(read.begin(), read.end())).first;
        }
        bytes += found->second;
    }
    return bytes.substr(address - first, length);
}

bool GdbSession::plainMemory(std::uint64_t address, std::uint64_t length, std::optional<MapArea::Kind> kind) const
{
    return std::any_of(target_->memoryMap.begin(), target_->memoryMap.end(), [&](const MapArea& area) {
        return !area.peripheral && (!kind || area.kind == *kind) && address >= area.start &&
               address - area.start < area.size && length <= area.size - (address - area.start);
    });
}

void GdbSession::readAhead()
{
    if (!nextBulkRead_)
        return;
    const auto [address, length] = *nextBulkRead_;
    nextBulkRead_.reset();
    std::vector<std::uint8_t> bytes(length);
    std::uint32_t run = 0;
    if (const auto errors = readInto(address, bytes); !errors || (errors->getStatusAt(address, run) == 0 && (run == 0 || run >= length)))
        readAhead_ = ReadAhead{address, std::string(bytes.begin(), bytes.end())};
}

GdbSession::Reply GdbSession::onReadMemory(std::string_view arguments)
{
    const auto range = addressAndLength(arguments, 0);
    if (range.length > kPacketSize / 2)
        refuse(kInvalid, "a read takes at most " + std::to_string(kPacketSize / 2) + " bytes");
    if (const auto cached = cachedRead(range.address, range.length))
        return rsp::toHex(*cached);
    // A bulk read that goes on from the last one (gdb dumping memory) reads the next block while
    // gdb takes in this one's reply.
    const bool sequential = range.address == bulkEnd_;
    bulkEnd_ = range.address + range.length;
    if (sequential && plainMemory(bulkEnd_, range.length))
        nextBulkRead_.emplace(bulkEnd_, range.length);
    if (readAhead_ && readAhead_->address == range.address && readAhead_->bytes.size() >= range.length) {
        const auto ahead = std::move(readAhead_->bytes);
        readAhead_.reset();
        return rsp::toHex(std::string_view(ahead).substr(0, range.length));
    }
    std::vector<std::uint8_t> bytes(range.length);
    const auto errors = readInto(range.address, bytes);
    // What reads well up to the first byte that does not; none at all is a fault.
    std::uint64_t good = range.length;
    if (errors) {
        good = 0;
        while (good < range.length) {
            std::uint32_t run = 0;
            if (errors->getStatusAt(range.address + good, run) != 0)
                break;
            good = run == 0 ? range.length : std::min<std::uint64_t>(range.length, good + run);
        }
    }
    if (good == 0 && range.length > 0)
        refuse(kFault, "the memory at 0x" + hexNumber(range.address) + " does not answer");
    return rsp::toHex(bytes.data(), static_cast<std::size_t>(good));
}

void GdbSession::write(std::uint64_t address, std::vector<std::uint8_t> bytes)
{
    if (bytes.empty())
        return;
    forgetMemory();
    if (!target_->memory)
        refuse(kFault, "the target has no memory");
    MemoryErrorMapPtr errors;
    const auto count = static_cast<std::int64_t>(bytes.size());
    target_->memory->writeMemory(address, 1, bytes, 0, count, 0, nullptr, errors);
    std::uint32_t run = 0;
    if (errors && (errors->getStatusAt(address, run) != 0 || (run != 0 && run < bytes.size())))
        refuse(kFault, "the memory at 0x" + hexNumber(address) + " did not take all " + std::to_string(bytes.size()) + " bytes");
}

GdbSession::Reply GdbSession::writeMemory(std::uint64_t address, std::vector<std::uint8_t> bytes)
{
    // Into RAM, the write goes out after the "OK": gdb builds its next packet (a load's next
    // block) meanwhile. Nothing can overtake it, since this thread does it before reading on.
    if (!bytes.empty() && plainMemory(address, bytes.size(), MapArea::Kind::Ram)) {
        forgetMemory();
        postedWrite_.emplace(address, std::move(bytes));
    } else {
        write(address, std::move(bytes));
    }
    return std::string("OK");
}

void GdbSession::finishPostedWrite()
{
    if (!postedWrite_)
        return;
    auto [address, bytes] = std::move(*postedWrite_);
    postedWrite_.reset();
    try {
        write(address, std::move(bytes));
    } catch (const PacketError& refused) {
        postedWriteFailure_ = refused.text;
    } catch (const std::exception& failure) {
        postedWriteFailure_ = failure.what();
    }
    if (postedWriteFailure_)
        BackendLogger::info(kLog, name_ + ": a write gdb was answered OK for failed: " + *postedWriteFailure_);
}

GdbSession::Reply GdbSession::onWriteMemoryHex(std::string_view arguments)
{
    const auto range = addressAndLength(arguments, ':');
    const auto bytes = rsp::fromHex(range.rest);
    if (!bytes || bytes->size() != range.length)
        refuse(kInvalid, "M carries " + std::to_string(range.length) + " bytes in hex");
    return writeMemory(range.address, bytesOf(*bytes));
}

GdbSession::Reply GdbSession::onWriteMemoryBinary(std::string_view arguments)
{
    const auto range = addressAndLength(arguments, ':');
    if (range.rest.size() != range.length)
        refuse(kInvalid, "X carries " + std::to_string(range.length) + " bytes, not " + std::to_string(range.rest.size()));
    return writeMemory(range.address, bytesOf(range.rest));
}

void GdbSession::requireFlash(std::uint64_t address, std::uint64_t length) const
{
    const std::uint64_t end = address + length;
    for (std::uint64_t at = address; at < end;) {
        const auto area = std::find_if(target_->memoryMap.begin(), target_->memoryMap.end(), [&](const MapArea& candidate) {
            return candidate.kind == MapArea::Kind::Flash && at >= candidate.start && at < candidate.start + candidate.size;
        });
        if (area == target_->memoryMap.end())
            refuse(kInvalid, "0x" + hexNumber(at) + " is not in flash");
        at = std::min(end, area->start + area->size);
    }
}

GdbSession::Reply GdbSession::onFlashErase(std::string_view arguments)
{
    const auto range = addressAndLength(arguments, 0);
    requireFlash(range.address, range.length);
    if (!target_->memory)
        refuse(kFault, "the target has no memory");
    forgetMemory();
    std::vector<std::uint8_t> erased{0xFF};
    MemoryErrorMapPtr errors;
    target_->memory->fillMemory(range.address, 1, erased, static_cast<std::int64_t>(range.length), 0, nullptr, errors);
    std::uint32_t run = 0;
    if (errors && errors->getStatusAt(range.address, run) != 0)
        refuse(kFault, "the flash at 0x" + hexNumber(range.address) + " was not erased");
    return std::string("OK");
}

GdbSession::Reply GdbSession::onFlashWrite(std::string_view arguments)
{
    const auto colon = arguments.find(':');
    if (colon == std::string_view::npos)
        refuse(kBadRequest, "vFlashWrite is ADDRESS:DATA");
    const auto address = number(arguments.substr(0, colon), "address");
    const auto data = arguments.substr(colon + 1);
    if (address >= kBusEnd || data.size() > kBusEnd - address)
        refuse(kInvalid, "the write lies past the 32-bit bus");
    requireFlash(address, data.size());
    write(address, bytesOf(data));
    return std::string("OK");
}

// ---- running

void GdbSession::interrupt()
{
    try {
        target_->model->suspend(target_->id);
    } catch (const ErrorDescr& failure) {
        if (failure.code != debugging::RunControlError::AlreadyStopped)
            throw;
    }
}

GdbSession::Reply GdbSession::startRun(bool step)
{
    forgetMemory();
    try {
        waiting_ = Waiting{target_->model->resume(target_->id, step ? kStepInto : 0, 1), false};
        return std::nullopt;
    } catch (const ErrorDescr& failure) {
        if (failure.code != debugging::RunControlError::AlreadyRunning)
            throw;
    }
    // Running already (another front-end let it go): its next stop is the one gdb hears.
    return stopNowOrNext(false);
}

GdbSession::Reply GdbSession::onContinue(std::string_view) { return startRun(false); }

GdbSession::Reply GdbSession::onStep(std::string_view) { return startRun(true); }

GdbSession::Reply GdbSession::onContinueQuery(std::string_view) { return std::string("vCont;c;C;s;S;t"); }

GdbSession::Reply GdbSession::onContinueActions(std::string_view arguments)
{
    // One thread: the first action is the one for it.
    switch (arguments.empty() ? '\0' : arguments[0]) {
    case 'c':
    case 'C':
        return startRun(false);
    case 's':
    case 'S':
        return startRun(true);
    case 't':
        return stopNowOrNext(true);
    default:
        refuse(kBadRequest, "vCont takes c, s or t");
    }
}

// ---- stop points

GdbSession::Reply GdbSession::onInsertPoint(std::string_view arguments)
{
    if (arguments.size() < 2 || arguments[0] < '0' || arguments[0] > '4' || arguments[1] != ',')
        return std::string(); // a kind of point this server does not know
    const int type = arguments[0] - '0';
    const auto place = addressAndLength(arguments.substr(2), 0);
    const auto key = std::make_tuple(type, place.address, type >= 2 ? place.length : 0);
    if (points_.contains(key))
        return std::string("OK");
    static const char* const typeNames[] = {"Software", "Hardware"};
    static const std::int64_t accessModes[] = {2, 1, 3}; // write, read, either
    static const char* const pointNames[] = {"breakpoint", "hardware breakpoint", "write watchpoint", "read watchpoint",
                                             "access watchpoint"};
    std::string id = name_ + ": " + pointNames[type] + " at 0x" + hexNumber(place.address);
    if (type >= 2)
        id += ", " + std::to_string(place.length) + " bytes";
    boost::json::object properties{{"ID", id},
                                   {"Enabled", true},
                                   {"Location", "0x" + hexNumber(place.address)},
                                   {"ContextIds", boost::json::array{boost::json::value(target_->id)}},
                                   {"PlantedBy", name_}};
    if (type < 2) {
        properties["BreakpointType"] = typeNames[type];
    } else {
        properties["AccessMode"] = accessModes[type - 2];
        properties["Size"] = static_cast<std::int64_t>(place.length);
    }
    const auto request = debugging::BreakpointRequest::read(properties);
    if (!request.problem.empty())
        refuse(kInvalid, request.problem);
    target_->model->add(client_, request);
    // Planted, or told why not: the status says it for this target.
    const auto status = target_->model->breakpointStatus(id);
    std::string problem;
    if (const auto* text = status.if_contains("Error"); text && text->is_string())
        problem = text->get_string();
    if (const auto* instances = status.if_contains("Instances"); instances && instances->is_array())
        for (const auto& instance : instances->get_array())
            if (const auto* text = instance.as_object().if_contains("Error"); text && text->is_string())
                problem = text->get_string();
    if (!problem.empty()) {
        target_->model->remove(client_, {id});
        refuse(kInvalid, problem);
    }
    points_[key] = id;
    return std::string("OK");
}

GdbSession::Reply GdbSession::onRemovePoint(std::string_view arguments)
{
    if (arguments.size() < 2 || arguments[0] < '0' || arguments[0] > '4' || arguments[1] != ',')
        return std::string();
    const int type = arguments[0] - '0';
    const auto place = addressAndLength(arguments.substr(2), 0);
    const auto found = points_.find(std::make_tuple(type, place.address, type >= 2 ? place.length : 0));
    if (found == points_.end())
        return std::string("OK"); // gone already: removing is idempotent
    target_->model->remove(client_, {found->second});
    points_.erase(found);
    return std::string("OK");
}

void GdbSession::dropBreakpoints()
{
    if (points_.empty())
        return;
    points_.clear();
    try {
        target_->model->forgetClient(client_);
    } catch (const std::exception& failure) {
        BackendLogger::error(kLog, name_ + ": removing gdb's breakpoints: " + failure.what());
    }
}

// ---- monitor commands, leaving, and the one thread

GdbSession::Reply GdbSession::onMonitor(std::string_view arguments)
{
    const auto decoded = rsp::fromHex(arguments);
    if (!decoded)
        refuse(kBadRequest, "qRcmd carries its command in hex");
    const std::string command = *decoded;
    auto* control = dynamic_cast<IRunControl*>(target_->device.get());
    std::string output;
    forgetMemory(); // a reset, or a command that writes
    if (command == "reset" || command == "reset run") {
        control->reset(false);
    } else if (command == "reset halt" || command == "reset init") {
        control->reset(true);
    } else if (command == "halt") {
        interrupt();
    } else if (command == "help") {
        output = "reset [run]      reset the target and let it run\n"
                 "reset halt       reset the target and keep it halted\n"
                 "halt             halt the target\n"
                 "anything else    goes to the tool as a text command\n";
    } else {
        if (!target_->tool)
            refuse(kInvalid, "the target has no tool to take \"" + command + "\"");
        Status status;
        target_->tool->genericStringCommand(status, output, command);
        if (!status.isOk())
            refuse(kInvalid, status.getMessage());
    }
    if (!output.empty()) {
        if (output.back() != '\n')
            output += '\n';
        send("O" + rsp::toHex(output));
    }
    return std::string("OK");
}

GdbSession::Reply GdbSession::onDetach(std::string_view)
{
    dropBreakpoints();
    send("OK");
    // Detaching lets the target run, as gdb expects of every server.
    try {
        if (target_->model->state(target_->id).suspended)
            target_->model->resume(target_->id, 0, 1);
    } catch (const std::exception& failure) {
        BackendLogger::error(kLog, name_ + ": resuming on detach: " + failure.what());
    }
    ended_ = true;
    return std::nullopt;
}

GdbSession::Reply GdbSession::onKill(std::string_view)
{
    // The target outlives gdb: it stays as it is for the other front-ends.
    ended_ = true;
    return std::nullopt;
}

GdbSession::Reply GdbSession::onOk(std::string_view) { return std::string("OK"); }

GdbSession::Reply GdbSession::onCurrentThread(std::string_view) { return std::string("QC1"); }

GdbSession::Reply GdbSession::onFirstThreads(std::string_view) { return std::string("m1"); }

GdbSession::Reply GdbSession::onNextThreads(std::string_view) { return std::string("l"); }

GdbSession::Reply GdbSession::onAttached(std::string_view) { return std::string("1"); }

GdbSession::Reply GdbSession::onOffsets(std::string_view) { return std::string("Text=0;Data=0;Bss=0"); }

} // namespace hil::gdbserver
