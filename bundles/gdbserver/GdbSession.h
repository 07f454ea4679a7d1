// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bundles/debugging/DebugTargets.h"
#include "bundles/gdbserver/GdbTargetXml.h"
#include "core/interfaces/IMemoryContext.h"
#include "core/interfaces/IToolContext.h"
#include "platform/rsp/PacketReader.h"

namespace hil::gdbserver {

/// The target a GDB server serves, seen through the back-end's own model of it: run control and
/// breakpoints go through the model (so TCF clients see what gdb does, and gdb what they do),
/// memory and registers through the target's contexts.
struct ServedTarget {
    std::string id;
    std::shared_ptr<debugging::DebugTargets> model;
    std::shared_ptr<IDeviceContext> device;
    /// Its tool, for monitor commands; null when the target has none.
    std::shared_ptr<IToolContext> tool;
    /// Null when the target has no memory.
    std::shared_ptr<IMemoryContext> memory;
    std::vector<RegisterSlot> registers;
    std::string targetXml;
    /// Empty when the target has no description to take a map from.
    std::vector<MapArea> memoryMap;
};

/// One gdb connected to a target, on a thread of its own that reads the connection, answers
/// gdb's packets from one table of handlers, and writes the stop reply when a run gdb started
/// ends. The model's run events reach it through `tell`; whoever ends the run (gdb, a TCF
/// client, a breakpoint of either) gdb hears of the stop.
///
/// Bounded: a packet longer than the reader takes closes the connection. When the connection
/// ends, gdb's breakpoints go; the target stays as it is (`D` resumes it first, as detaching does).
class GdbSession {
public:
    /// The largest packet gdb may send, as told in `qSupported`.
    static constexpr std::size_t kPacketSize = 0x10000;
    /// The memory gdb reads is kept in lines of this many bytes, aligned.
    static constexpr std::uint64_t kLineBytes = 256;

    /// Takes `socket` (connected to gdb) and starts reading it. `name` says who plants gdb's
    /// breakpoints ("GDB server on 127.0.0.1:3333"); `client` is the model's client number for them.
    GdbSession(int socket, std::shared_ptr<const ServedTarget> target, std::string name, int client);
    /// Closes the connection and waits for the thread.
    ~GdbSession();
    GdbSession(const GdbSession&) = delete;
    GdbSession& operator=(const GdbSession&) = delete;

    /// Hands a run event to the session's thread; any thread, never blocks on the connection.
    void tell(const debugging::RunEvent& event);
    /// True once the connection has ended.
    bool ended() const { return ended_; }
    /// gdb's address, "127.0.0.1:40312".
    const std::string& peer() const { return peer_; }

private:
    using Reply = std::optional<std::string>;
    using Handler = Reply (GdbSession::*)(std::string_view arguments);
    /// The stop gdb waits for: the first told after `after` events, and, for a run gdb started,
    /// after that run's resume (a stop of an earlier run, handled late, is not its end).
    struct Waiting {
        std::uint64_t after = 0;
        bool resumeSeen = false;
    };

    void run();
    void handleEvents();
    void handleItem(rsp::PacketReader::Item& item);
    /// The reply to `packet`: the handler's, the empty reply for a packet no handler knows, or an
    /// error reply for a handler that threw. Nullopt: no reply now (a run began, or gdb left).
    Reply answer(std::string_view packet);
    void send(const std::string& payload);
    void sendRaw(const std::string& bytes);
    void wake();
    /// The error reply gdb reads best: "E.text" when it takes text, else "Exx".
    std::string error(int number, const std::string& text) const;
    std::string stopReply(const debugging::RunState& state) const;
    /// Starts a run (`step` or not) whose end is told as a stop reply.
    Reply startRun(bool step);
    /// The stop reply when the target is halted; else none now, and the target's next stop is
    /// told (after halting it, with `halt`).
    Reply stopNowOrNext(bool halt);
    /// Stops the target, if it runs; its stop ends the run gdb waits for.
    void interrupt();
    /// Removes gdb's breakpoints from the model.
    void dropBreakpoints();
    const RegisterSlot& slotOf(std::string_view number) const;
    MemoryErrorMapPtr readInto(std::uint64_t address, std::vector<std::uint8_t>& bytes);
    /// [address, address + length) from the lines read since the target stopped, reading the
    /// missing lines; nullopt when the range is not all plain memory or a line does not read.
    std::optional<std::string> cachedRead(std::uint64_t address, std::uint64_t length);
    /// Drops the lines and the block read ahead: the target may have moved, or memory was written.
    void forgetMemory()
    {
        lines_.clear();
        readAhead_.reset();
        nextBulkRead_.reset();
    }
    /// True when [address, address + length) lies in one area of plain memory (no peripherals),
    /// of `kind` when given.
    bool plainMemory(std::uint64_t address, std::uint64_t length, std::optional<MapArea::Kind> kind = std::nullopt) const;
    /// gdb's M or X: into RAM, posted (written once the "OK" is out); elsewhere at once.
    Reply writeMemory(std::uint64_t address, std::vector<std::uint8_t> bytes);
    /// Writes what was posted; a failure is told in answer to the next packet.
    void finishPostedWrite();
    /// Reads the block a sequential bulk read asked for next, once its reply has gone.
    void readAhead();
    void write(std::uint64_t address, std::vector<std::uint8_t> bytes);
    /// Throws unless [address, address + length) is inside the flash areas of the memory map.
    void requireFlash(std::uint64_t address, std::uint64_t length) const;

    Reply onSupported(std::string_view arguments);
    Reply onNoAck(std::string_view arguments);
    Reply onTransfer(std::string_view arguments);
    Reply onStopReason(std::string_view arguments);
    Reply onReadRegisters(std::string_view arguments);
    Reply onWriteRegisters(std::string_view arguments);
    Reply onReadRegister(std::string_view arguments);
    Reply onWriteRegister(std::string_view arguments);
    Reply onReadMemory(std::string_view arguments);
    Reply onWriteMemoryHex(std::string_view arguments);
    Reply onWriteMemoryBinary(std::string_view arguments);
    Reply onContinue(std::string_view arguments);
    Reply onStep(std::string_view arguments);
    Reply onContinueQuery(std::string_view arguments);
    Reply onContinueActions(std::string_view arguments);
    Reply onInsertPoint(std::string_view arguments);
    Reply onRemovePoint(std::string_view arguments);
    Reply onFlashErase(std::string_view arguments);
    Reply onFlashWrite(std::string_view arguments);
    Reply onMonitor(std::string_view arguments);
    Reply onDetach(std::string_view arguments);
    Reply onKill(std::string_view arguments);
    Reply onOk(std::string_view arguments);
    Reply onCurrentThread(std::string_view arguments);
    Reply onFirstThreads(std::string_view arguments);
    Reply onNextThreads(std::string_view arguments);
    Reply onAttached(std::string_view arguments);
    Reply onOffsets(std::string_view arguments);

    static const std::map<std::string, Handler, std::less<>>& handlers();

    const std::shared_ptr<const ServedTarget> target_;
    const std::string name_;
    const int client_;
    /// Written by the session's thread alone (closed when it ends), under `socketMutex_`.
    int socket_;
    std::mutex socketMutex_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::string peer_;
    rsp::PacketReader reader_;
    std::atomic<bool> ended_{false};

    // The session's thread alone touches these.
    bool ackMode_ = true;
    bool textErrors_ = false;
    bool reportsSoftwareBreaks_ = false;
    bool reportsHardwareBreaks_ = false;
    std::string lastSent_;
    std::optional<Waiting> waiting_;
    /// Memory read since the target last stopped, in aligned lines by address: gdb reads the same
    /// few words around the PC many times a step. Plain memory only, never peripherals.
    std::map<std::uint64_t, std::string> lines_;
    /// Set by whoever writes the target's memory; the session drops its lines before its next read.
    std::shared_ptr<std::atomic<bool>> memoryWritten_ = std::make_shared<std::atomic<bool>>(false);
    boost::signals2::scoped_connection memoryWatch_;
    struct ReadAhead {
        std::uint64_t address = 0;
        std::string bytes;
    };
    std::optional<ReadAhead> readAhead_;
    std::optional<std::pair<std::uint64_t, std::vector<std::uint8_t>>> postedWrite_;
    std::optional<std::string> postedWriteFailure_;
    /// The block to read ahead once the reply is out: (address, length).
    std::optional<std::pair<std::uint64_t, std::uint64_t>> nextBulkRead_;
    /// Where the last bulk read ended: a read from there goes on from it.
    std::uint64_t bulkEnd_ = 0;
    /// gdb's stop points: breakpoint id by (type, address, length).
    std::map<std::tuple<int, std::uint64_t, std::uint64_t>, std::string> points_;

    std::mutex eventsMutex_;
    std::deque<debugging::RunEvent> events_;

    std::thread thread_;
};

} // namespace hil::gdbserver
