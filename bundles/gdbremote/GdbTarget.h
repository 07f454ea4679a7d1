// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bundles/common/MemoryTransfer.h"
#include "bundles/gdbremote/RspClient.h"
#include "bundles/gdbremote/TargetDescription.h"
#include "core/interfaces/IRunControl.h"

namespace hil::gdbremote {

/// A target behind a GDB server: memory, registers, run control and monitor commands on top of
/// the packet layer.
///
/// Opening reads what the server describes before anything else touches the target (some
/// servers answer register packets only after their target.xml was read): target.xml with
/// its includes, the memory map when offered, and the stop state ('?').
///
/// Memory moves in chunks that fit the server's packet size: reads of at most 0x800 bytes whose
/// hex reply fits PacketSize, writes whose whole packet stays below it (a server may drop a
/// packet of exactly PacketSize), aligned to the chunk size so that a chunk seldom straddles
/// the end of a mapped area. A chunk the server refuses ("Exx") fails as a run with status xx;
/// the others go through. Writes use `X` until the server answers it empty, then `M`. Writes
/// into a flash area of the memory map go through `vFlashErase`/`vFlashWrite`/`vFlashDone`,
/// whole blocks at a time (the rest of each block is read first and written back).
class GdbTarget {
public:
    using Run = bundles::MemoryErrorRuns::Run;

    /// Throws what the client throws, and `std::runtime_error` for a target description it
    /// cannot read.
    explicit GdbTarget(std::unique_ptr<RspClient> client);

    RspClient& client() { return *client_; }
    const std::vector<RemoteRegister>& registers() const { return registers_; }
    bool hasFlash() const;

    std::vector<Run> read(std::uint64_t address, std::uint8_t* bytes, std::uint64_t length);
    std::vector<Run> write(std::uint64_t address, const std::uint8_t* bytes, std::uint64_t length);
    /// Erases the flash areas of the memory map (`vFlashErase`, then `vFlashDone`).
    void eraseFlash();

    /// The value of register `reg`, in target byte order. Throws `std::runtime_error` when the
    /// server cannot read it.
    std::vector<std::uint8_t> readRegister(const RemoteRegister& reg);
    void writeRegister(const RemoteRegister& reg, const std::vector<std::uint8_t>& value);

    /// Stops a running target (0x03) and waits for it to say so.
    void halt();
    /// Lets a halted target run (`vCont;c` when offered, else `c`).
    void resume();
    /// One instruction; waits for the stop.
    void step();
    /// When the PC is at a written breakpoint: puts the instruction back, steps over it and
    /// writes the breakpoint again; true when it stepped. A resume must come after this.
    bool stepOffWrittenBreakpoint();
    /// Plants or removes a stop point (`Z0`-`Z4`); a breakpoint the server refuses of one kind
    /// is tried as the other, and, refused both ways, written into memory as a Thumb BKPT (read
    /// back to see that the memory took it). The kind taken; throws `TargetError` with the
    /// server's answer.
    StopPointKind setStopPoint(StopPointKind kind, std::uint64_t address, std::uint64_t size, bool on);
    std::string monitor(const std::string& command);
    /// Puts back the instructions under written breakpoints and detaches (`D`, or `D;PID` in
    /// multiprocess mode), which resumes the target.
    void detach();

    /// How many bytes one read packet moves.
    std::size_t readChunk() const { return readChunk_; }

private:
    std::string readAnnex(const std::string& object, const std::string& annex);
    std::vector<Run> writeRam(std::uint64_t address, const std::uint8_t* bytes, std::uint64_t length);
    std::vector<Run> writeFlash(const MemoryArea& area, std::uint64_t address, const std::uint8_t* bytes,
                                std::uint64_t length);
    /// Sends one write packet; the error number, 0 when it was taken, or -1 when the server has no
    /// `X` and the chunk must be cut again for `M`.
    int writePacket(std::uint64_t address, const std::uint8_t* bytes, std::size_t length);
    const MemoryArea* flashAreaAt(std::uint64_t address) const;
    /// `reg` out of the `g` block (read now unless kept); nullopt when the server has no such
    /// block or the block does not hold it.
    std::optional<std::vector<std::uint8_t>> sliceOfBlock(const RemoteRegister& reg);
    StopPointKind writeBreakpoint(std::uint64_t address, bool on);
    void writeBytes(std::uint64_t address, const std::vector<std::uint8_t>& bytes, const std::string& what);

    std::unique_ptr<RspClient> client_;
    std::vector<RemoteRegister> registers_;
    /// The registers as `g` gave them since the target last stopped; unset once it may have
    /// moved (a resume, a step, a monitor command, a register or memory write, a flash erase).
    std::optional<std::string> registerBlock_;
    std::vector<MemoryArea> memoryMap_;
    std::size_t readChunk_;
    std::size_t writeChunk_;
    bool binaryWrites_;
    bool vContContinue_ = false;
    bool vContStep_ = false;
    /// The instructions under the breakpoints written into memory, by address.
    std::map<std::uint64_t, std::vector<std::uint8_t>> writtenBreakpoints_;
};

} // namespace hil::gdbremote
