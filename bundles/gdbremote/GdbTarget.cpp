// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbremote/GdbTarget.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "platform/common/Errors.h"

namespace hil::gdbremote {

namespace {

/// The most one `m` reads: some servers refuse more (QEMU answers E22 above it).
constexpr std::size_t kMaxReadChunk = 0x800;
/// Room for a write packet's command, address, length and framing.
constexpr std::size_t kWriteOverhead = 32;
/// How much of an annex one `qXfer` asks for, and the most an annex may hold.
constexpr std::size_t kAnnexChunk = 0x800;
constexpr std::size_t kMaxAnnexBytes = 1u << 20;
/// What to breakpoint: a Thumb instruction.
constexpr int kThumbBreakpointKind = 2;
/// A Thumb BKPT #0, as it lies in memory.
const std::vector<std::uint8_t> kBreakpointInstruction{0x00, 0xBE};
/// What `writeChunk` answers when the chunk must be cut again for `M`.
constexpr int kTryAgain = -1;

std::string hex(std::uint64_t value)
{
    char text[17];
    const int length = std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return std::string(text, static_cast<std::size_t>(length));
}

std::size_t largestPowerOfTwoAtMost(std::size_t value)
{
    std::size_t power = 1;
    while (power * 2 <= value)
        power *= 2;
    return power;
}


/// The server's numbering of a running thread in multiprocess mode: "QCpPID.TID".
std::string processIdOf(const std::string& qcReply)
{
    if (qcReply.rfind("QCp", 0) != 0)
        return "1";
    return qcReply.substr(3, qcReply.find('.') - 3);
}

} // namespace

GdbTarget::GdbTarget(std::unique_ptr<RspClient> client)
    : client_(std::move(client)),
      readChunk_(largestPowerOfTwoAtMost(std::min(kMaxReadChunk, client_->packetSize() / 2))),
      writeChunk_(std::max<std::size_t>(16, (client_->packetSize() - kWriteOverhead) / 2)),
      binaryWrites_(true)
{
    if (client_->supports("qXfer:features:read")) {
        registers_ = parseTargetDescription([this](const std::string& annex) { return readAnnex("features", annex); });
    }
    if (client_->supports("qXfer:memory-map:read"))
        memoryMap_ = parseMemoryMap(readAnnex("memory-map", ""));
    const std::string actions = client_->request("vCont?");
    vContContinue_ = actions.find(";c") != std::string::npos;
    vContStep_ = actions.find(";s") != std::string::npos;
    client_->request("?");
}

std::string GdbTarget::readAnnex(const std::string& object, const std::string& annex)
{
    std::string text;
    for (;;) {
        const std::string reply = client_->request("qXfer:" + object + ":read:" + annex + ":" + hex(text.size()) + "," +
                                                   hex(kAnnexChunk));
        if (reply.empty() || (reply[0] != 'm' && reply[0] != 'l'))
            throw TargetError("The server cannot give its " + object + " " + annex + ": it answered \"" +
                                     reply.substr(0, 40) + "\"");
        text.append(reply, 1);
        if (text.size() > kMaxAnnexBytes)
            throw TargetError("The server's " + object + " " + annex + " is larger than 1 MiB");
        if (reply[0] == 'l' || reply.size() == 1)
            return text;
    }
}

bool GdbTarget::hasFlash() const
{
    return std::any_of(memoryMap_.begin(), memoryMap_.end(), [](const MemoryArea& area) { return area.type == "flash"; });
}

const MemoryArea* GdbTarget::flashAreaAt(std::uint64_t address) const
{
    for (const auto& area : memoryMap_)
        if (area.type == "flash" && area.contains(address))
            return &area;
    return nullptr;
}

std::vector<GdbTarget::Run> GdbTarget::read(std::uint64_t address, std::uint8_t* bytes, std::uint64_t length)
{
    std::vector<Run> failed;
    std::uint64_t done = 0;
    while (done < length) {
        const std::uint64_t at = address + done;
        const std::uint64_t chunk = std::min<std::uint64_t>(length - done, readChunk_ - at % readChunk_);
        const std::string reply = client_->request("m" + hex(at) + "," + hex(chunk));
        const auto data = rsp::isErrorReply(reply) ? std::nullopt : rsp::fromHex(reply);
        if (data && data->size() == chunk) {
            std::copy(data->begin(), data->end(), bytes + done);
        } else {
            const int status = rsp::isErrorReply(reply) ? rsp::errorNumber(reply) : 1;
            if (!failed.empty() && failed.back().address + failed.back().length == at && failed.back().status == status)
                failed.back().length += chunk;
            else
                failed.push_back({at, chunk, status});
        }
        done += chunk;
    }
    return failed;
}

int GdbTarget::writePacket(std::uint64_t address, const std::uint8_t* bytes, std::size_t length)
{
    if (binaryWrites_) {
        const std::string reply = client_->request("X" + hex(address) + "," + hex(length) + ":" +
                                                   std::string(reinterpret_cast<const char*>(bytes), length));
        if (!reply.empty())
            return rsp::replyStatus(reply);
        binaryWrites_ = false; // not supported: `M` from now on, in chunks of its size
        return kTryAgain;
    }
    const std::string reply = client_->request("M" + hex(address) + "," + hex(length) + ":" + rsp::toHex(bytes, length));
    return rsp::replyStatus(reply);
}

std::vector<GdbTarget::Run> GdbTarget::writeRam(std::uint64_t address, const std::uint8_t* bytes, std::uint64_t length)
{
    std::vector<Run> failed;
    std::uint64_t done = 0;
    while (done < length) {
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, writeChunk_));
        if (binaryWrites_) {
            // Escapes take room: as many bytes as fit the packet once escaped.
            const std::size_t room = 2 * writeChunk_;
            std::size_t escaped = 0;
            std::size_t fits = 0;
            while (fits < length - done && fits < room) {
                const std::size_t size = rsp::needsEscape(static_cast<char>(bytes[done + fits])) ? 2 : 1;
                if (escaped + size > room)
                    break;
                escaped += size;
                ++fits;
            }
            chunk = fits;
        }
        const int status = writePacket(address + done, bytes + done, chunk);
        if (status == kTryAgain)
            continue;
        if (status != 0)
            failed.push_back({address + done, chunk, status});
        done += chunk;
    }
    return failed;
}

std::vector<GdbTarget::Run> GdbTarget::writeFlash(const MemoryArea& area, std::uint64_t address, const std::uint8_t* bytes,
                                                  std::uint64_t length)
{
    const std::uint64_t block = area.blockSize ? area.blockSize : area.length;
    const std::uint64_t first = area.start + (address - area.start) / block * block;
    const std::uint64_t last = std::min(area.start + area.length, area.start + ((address + length - area.start + block - 1) / block) * block);
    std::vector<std::uint8_t> image(last - first);
    auto failed = read(first, image.data(), image.size());
    if (!failed.empty())
        return {{address, length, failed.front().status}};
    std::copy_n(bytes, length, image.begin() + static_cast<std::ptrdiff_t>(address - first));
    const std::string erased = client_->request("vFlashErase:" + hex(first) + "," + hex(image.size()));
    if (const int status = rsp::replyStatus(erased); status != 0)
        return {{address, length, status}};
    int status = 0;
    for (std::uint64_t done = 0; done < image.size() && status == 0; done += writeChunk_) {
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(writeChunk_, image.size() - done));
        status = rsp::replyStatus(client_->request(
            "vFlashWrite:" + hex(first + done) + ":" + std::string(reinterpret_cast<const char*>(image.data() + done), chunk)));
    }
    // Done even after a failure: a server that buffers writes must not keep half an image.
    const int done = rsp::replyStatus(client_->request("vFlashDone"));
    if (status == 0)
        status = done;
    return status == 0 ? std::vector<Run>{} : std::vector<Run>{{address, length, status}};
}

std::vector<GdbTarget::Run> GdbTarget::write(std::uint64_t address, const std::uint8_t* bytes, std::uint64_t length)
{
    // A write may move the core: a reset request in the system control block, a debug register,
    // a server that resets after programming flash.
    registerBlock_.reset();
    std::vector<Run> failed;
    std::uint64_t done = 0;
    while (done < length) {
        const std::uint64_t at = address + done;
        // The stretch up to the next change between flash and the rest.
        const MemoryArea* flash = flashAreaAt(at);
        std::uint64_t stretch = length - done;
        if (flash) {
            stretch = std::min(stretch, flash->start + flash->length - at);
        } else {
            for (const auto& area : memoryMap_)
                if (area.type == "flash" && area.start > at)
                    stretch = std::min(stretch, area.start - at);
        }
        auto runs = flash ? writeFlash(*flash, at, bytes + done, stretch) : writeRam(at, bytes + done, stretch);
        failed.insert(failed.end(), runs.begin(), runs.end());
        done += stretch;
    }
    return failed;
}

void GdbTarget::eraseFlash()
{
    registerBlock_.reset();
    for (const auto& area : memoryMap_)
        if (area.type == "flash")
            RspClient::checkOk(client_->request("vFlashErase:" + hex(area.start) + "," + hex(area.length)),
                               "Erasing the flash at 0x" + hex(area.start));
    RspClient::checkOk(client_->request("vFlashDone"), "Finishing the flash erase");
}

std::optional<std::vector<std::uint8_t>> GdbTarget::sliceOfBlock(const RemoteRegister& reg)
{
    if (!registerBlock_) {
        const std::string reply = client_->request("g");
        registerBlock_ = rsp::isErrorReply(reply) ? std::nullopt : rsp::fromHex(reply);
        if (!registerBlock_)
            return std::nullopt;
    }
    // `g` holds the registers in number order, each its own size.
    std::map<int, int> sizes;
    for (const auto& described : registers_)
        sizes[described.number] = (described.bitSize + 7) / 8;
    std::size_t offset = 0;
    for (const auto& [number, size] : sizes) {
        if (number == reg.number) {
            if (offset + static_cast<std::size_t>(size) > registerBlock_->size())
                break;
            const auto* first = reinterpret_cast<const std::uint8_t*>(registerBlock_->data()) + offset;
            return std::vector<std::uint8_t>(first, first + size);
        }
        offset += static_cast<std::size_t>(size);
    }
    return std::nullopt;
}

std::vector<std::uint8_t> GdbTarget::readRegister(const RemoteRegister& reg)
{
    // One `g` per stop serves every register read until the target moves: a debugger reads them
    // all after each stop, and one packet costs what one register's `p` does.
    if (auto value = sliceOfBlock(reg))
        return std::move(*value);
    const std::string reply = client_->request("p" + hex(static_cast<std::uint64_t>(reg.number)));
    const auto value = rsp::isErrorReply(reply) ? std::nullopt : rsp::fromHex(reply);
    const auto size = static_cast<std::size_t>((reg.bitSize + 7) / 8);
    if (!value || value->size() != size)
        throw TargetError("The server cannot read register " + reg.name + ": it answered \"" + reply.substr(0, 40) + "\"");
    return {value->begin(), value->end()};
}

void GdbTarget::writeRegister(const RemoteRegister& reg, const std::vector<std::uint8_t>& value)
{
    registerBlock_.reset();
    RspClient::checkOk(client_->request("P" + hex(static_cast<std::uint64_t>(reg.number)) + "=" +
                                        rsp::toHex(value.data(), value.size())),
                       "Writing register " + reg.name);
}

void GdbTarget::halt() { client_->interrupt(); }

void GdbTarget::resume()
{
    registerBlock_.reset();
    client_->resume(vContContinue_ ? "vCont;c" : "c");
}

std::string GdbTarget::monitor(const std::string& command)
{
    registerBlock_.reset(); // a reset, or a register written behind our back
    return client_->monitor(command);
}

void GdbTarget::step()
{
    if (client_->running())
        throw StateError(ErrorCode::TargetRunning, "The target is running: a step needs it halted (special halt, then try again)");
    if (stepOffWrittenBreakpoint())
        return;
    registerBlock_.reset();
    if (!client_->runToStop(vContStep_ ? "vCont;s" : "s", client_->timeout()))
        throw TargetError("The step did not end within " + std::to_string(client_->timeout().count()) + " ms");
}

bool GdbTarget::stepOffWrittenBreakpoint()
{
    const auto pc = std::find_if(registers_.begin(), registers_.end(), [](const RemoteRegister& reg) { return reg.name == "pc"; });
    if (writtenBreakpoints_.empty() || pc == registers_.end())
        return false;
    std::uint64_t address = 0;
    const auto value = readRegister(*pc);
    for (std::size_t i = std::min<std::size_t>(value.size(), 8); i-- > 0;)
        address = address << 8 | value[i];
    const auto written = writtenBreakpoints_.find(address & ~std::uint64_t{1});
    if (written == writtenBreakpoints_.end())
        return false;
    writeBytes(written->first, written->second, "Stepping off the breakpoint at 0x" + hex(written->first));
    registerBlock_.reset();
    if (client_->runToStop(vContStep_ ? "vCont;s" : "s", client_->timeout()))
        writeBytes(written->first, kBreakpointInstruction, "Writing the breakpoint at 0x" + hex(written->first) + " again");
    else
        throw TargetError("The step off the breakpoint at 0x" + hex(written->first) + " did not end within " +
                          std::to_string(client_->timeout().count()) + " ms");
    return true;
}

void GdbTarget::writeBytes(std::uint64_t address, const std::vector<std::uint8_t>& bytes, const std::string& what)
{
    if (!write(address, bytes.data(), bytes.size()).empty())
        throw TargetError(what + " failed: the memory there cannot be written");
}

StopPointKind GdbTarget::writeBreakpoint(std::uint64_t address, bool on)
{
    const std::string what = "Writing a breakpoint instruction at 0x" + hex(address);
    if (!on) {
        if (const auto written = writtenBreakpoints_.find(address); written != writtenBreakpoints_.end()) {
            writeBytes(address, written->second, "Putting back the instruction at 0x" + hex(address));
            writtenBreakpoints_.erase(written);
        }
        return StopPointKind::WrittenBreakpoint;
    }
    if (writtenBreakpoints_.contains(address))
        return StopPointKind::WrittenBreakpoint;
    std::vector<std::uint8_t> original(kBreakpointInstruction.size());
    if (!read(address, original.data(), original.size()).empty())
        throw TargetError("The server plants no breakpoints, and the memory at 0x" + hex(address) + " cannot be read");
    writeBytes(address, kBreakpointInstruction, what);
    std::vector<std::uint8_t> check(kBreakpointInstruction.size());
    if (!read(address, check.data(), check.size()).empty() || check != kBreakpointInstruction) {
        writeBytes(address, original, "Putting back the instruction at 0x" + hex(address));
        throw TargetError("The server plants no breakpoints, and the memory at 0x" + hex(address) +
                          " does not keep a breakpoint instruction (flash or ROM: a hardware breakpoint is needed)");
    }
    writtenBreakpoints_[address] = original;
    return StopPointKind::WrittenBreakpoint;
}

StopPointKind GdbTarget::setStopPoint(StopPointKind kind, std::uint64_t address, std::uint64_t size, bool on)
{
    if (kind == StopPointKind::WrittenBreakpoint)
        return writeBreakpoint(address, on);
    // Z0 software and Z1 hardware breakpoints (a Thumb instruction's size), Z2-Z4 watchpoints.
    const auto send = [&](StopPointKind tried) {
        const auto type = static_cast<int>(tried);
        const bool breakpoint = tried == StopPointKind::SoftwareBreakpoint || tried == StopPointKind::HardwareBreakpoint;
        return client_->request(std::string(on ? "Z" : "z") + std::to_string(type) + "," + hex(address) + "," +
                                (breakpoint ? std::to_string(kThumbBreakpointKind) : hex(size)));
    };
    const std::string what =
        std::string(on ? "Setting " : "Removing ") + rsp::stopPointName(static_cast<int>(kind)) + " at 0x" + hex(address);
    std::string reply = send(kind);
    StopPointKind taken = kind;
    // A breakpoint of one kind the server refuses may be one of the other.
    if (reply != "OK" && (kind == StopPointKind::SoftwareBreakpoint || kind == StopPointKind::HardwareBreakpoint)) {
        const auto other = kind == StopPointKind::SoftwareBreakpoint ? StopPointKind::HardwareBreakpoint
                                                                     : StopPointKind::SoftwareBreakpoint;
        if (const std::string second = send(other); second == "OK" || reply.empty()) {
            reply = second;
            taken = other;
        }
    }
    // Refused both ways: the instruction itself is written over the code (or was).
    if (reply != "OK" && (kind == StopPointKind::SoftwareBreakpoint || kind == StopPointKind::HardwareBreakpoint) &&
        (on || writtenBreakpoints_.contains(address)))
        return writeBreakpoint(address, on);
    if (reply.empty())
        throw TargetError(what + " failed: the server has no such points");
    RspClient::checkOk(reply, what);
    return taken;
}

void GdbTarget::detach()
{
    if (client_->running())
        client_->interrupt();
    while (!writtenBreakpoints_.empty())
        writeBreakpoint(writtenBreakpoints_.begin()->first, false);
    std::string packet = "D";
    if (client_->supports("multiprocess"))
        packet += ";" + processIdOf(client_->request("qC"));
    client_->request(packet);
}

} // namespace hil::gdbremote
