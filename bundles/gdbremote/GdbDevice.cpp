// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbremote/GdbDevice.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "bundles/common/FailureReport.h"
#include "core/interfaces/PropertyKeys.h"
#include "platform/common/Errors.h"

namespace hil::gdbremote {

namespace {

const std::string kLeaveHalted = "LeaveHalted";
const std::string kResetCommand = "ResetCommand";
constexpr std::uint8_t kErased = 0xFF;

std::string sessionName(int kind)
{
    return kind == IDeviceContext::kProgrammingSession ? "ProgrammingSession" : "DebuggingSession";
}

/// The 32-bit address space of a target nobody described.
bundles::AddressSpaceLayout wholeAddressSpace()
{
    bundles::AddressSpaceLayout layout;
    layout.name = "memory";
    layout.end = 0x100000000ull;
    layout.instructions = layout.data = true;
    return layout;
}

/// A stop that says no more than "interrupted": SIGINT (or no signal) and no stop point named.
bool isInterruption(const rsp::StopReply& stop)
{
    if (stop.kind != 'S' && stop.kind != 'T')
        return false;
    for (const char* key : {"swbreak", "hwbreak", "watch", "rwatch", "awatch"})
        if (stop.pairs.contains(key))
            return false;
    return stop.signal == 2 || stop.signal == 0;
}

/// Runs `work` with `flag` set to `value` for the stop it causes, which takes the flag down; when
/// `work` fails no stop comes, and the flag goes down here.
template <class Work>
void flaggedFor(std::atomic<bool>& flag, bool value, const Work& work)
{
    flag = value;
    try {
        work();
    } catch (...) {
        flag = false;
        throw;
    }
}

} // namespace

std::shared_ptr<GdbDevice> GdbDevice::create(std::string toolId, std::string deviceName, std::shared_ptr<DIDevice> description,
                                             std::shared_ptr<TargetLink> link, std::string resetCommand)
{
    auto device = std::make_shared<GdbDevice>(std::move(toolId), std::move(deviceName), std::move(description),
                                              std::move(link), std::move(resetCommand));
    device->buildContexts();
    return device;
}

GdbDevice::GdbDevice(std::string toolId, std::string deviceName, std::shared_ptr<DIDevice> description,
                     std::shared_ptr<TargetLink> link, std::string resetCommand)
    : DriverDevice(toolId + "." + deviceName),
      toolId_(std::move(toolId)),
      deviceName_(std::move(deviceName)),
      description_(std::move(description)),
      link_(std::move(link)),
      resetCommand_(std::move(resetCommand))
{
}

void GdbDevice::buildContexts()
{
    const std::weak_ptr<IContextBase> self = shared_from_this();
    std::vector<bundles::AddressSpaceLayout> spaces;
    if (description_)
        for (const auto& space : description_->getAddressSpaces())
            spaces.push_back(bundles::AddressSpaceLayout::of(*space));
    if (spaces.empty())
        spaces.push_back(wholeAddressSpace());
    for (auto& space : spaces) {
        const std::string id = id_ + "." + space.name;
        memories_.push_back(std::make_shared<GdbMemory>(id, self, id_, std::move(space), link_));
    }
    for (const auto& described : link_->target.registers()) {
        registers_.push_back(std::make_shared<GdbRegister>(id_ + "." + described.name, self, id_, described, link_));
        if (described.name == "pc")
            pcRegister_ = &described;
    }
    messages_ = std::make_shared<bundles::TargetMessages>(id_ + ".messages", self, id_, deviceName_, "gdbremote");

    // The handlers hold the device weakly: the client outlives no device, but its reader thread
    // may be delivering while the device goes.
    const std::weak_ptr<GdbDevice> device = shared_from_this();
    auto& client = link_->target.client();
    client.setStopHandler([device](const rsp::StopReply& stop) {
        if (const auto owner = device.lock())
            owner->onStop(stop);
    });
    client.setOutputHandler([device](const std::string& text) {
        if (const auto owner = device.lock())
            owner->onOutput(text);
    });
}

boost::json::object GdbDevice::getProperties() const
{
    boost::json::array memoryIds;
    for (const auto& memory : memories_)
        memoryIds.emplace_back(memory->getId());
    const bool running = link_->target.client().running();
    std::lock_guard lock(mutex_);
    return {{"ID", id_},
            {"Name", deviceName_},
            {"Tool", toolId_},
            {"Session", session_},
            {"State", running ? "Running" : "Halted"},
            {kLeaveHalted, leaveHalted_},
            {kResetCommand, resetCommand_},
            {"MemoryIDs", std::move(memoryIds)},
            {"RegistersID", id_}};
}

void GdbDevice::setProperties(const boost::json::object& properties)
{
    const auto* leave = properties.if_contains(kLeaveHalted);
    if (leave && !leave->is_bool())
        throw UsageError(kLeaveHalted + " must be true or false");
    std::lock_guard lock(mutex_);
    if (leave)
        leaveHalted_ = leave->get_bool();
}

bool GdbDevice::leaveHalted() const
{
    std::lock_guard lock(mutex_);
    return leaveHalted_;
}

std::vector<std::shared_ptr<IMemoryContext>> GdbDevice::listMemoryContexts() const
{
    return {memories_.begin(), memories_.end()};
}

std::vector<std::shared_ptr<IRegistersContext>> GdbDevice::listRegistersContexts() const
{
    return {registers_.begin(), registers_.end()};
}

std::shared_ptr<SessionStartInfo> GdbDevice::startSession(Status& status, int kind, bool resetTarget, std::shared_ptr<void>)
{
    const bool ready = bundles::reportFailure(status, "Cannot start a session on " + id_, [&] {
        halt();
        // The flag permits the reset a programming session begins with; a debugging session
        // takes the target as it finds it.
        if (kind == kProgrammingSession && resetTarget)
            reset(true);
    });
    if (!ready)
        return nullptr;
    {
        std::lock_guard lock(mutex_);
        session_ = sessionName(kind);
    }
    messages_->report(Severity::Info, sessionName(kind) + " started on " + id_);
    return nullptr;
}

bool GdbDevice::endSession()
{
    std::string ended;
    {
        std::lock_guard lock(mutex_);
        ended.swap(session_);
        session_ = "None";
    }
    if (ended == "None")
        return false;
    try {
        if (!leaveHalted())
            resume();
    } catch (const std::exception& error) {
        messages_->report(Severity::Error, "Ending the session on " + id_ + ": " + error.what());
        return false;
    }
    messages_->report(Severity::Info, ended + " ended on " + id_);
    return true;
}

void GdbDevice::erase(int, bool, std::uint64_t, int)
{
    {
        std::lock_guard lock(link_->mutex);
        if (link_->target.hasFlash()) {
            link_->target.eraseFlash();
            messages_->report(Severity::Info, "Flash erased on " + id_);
            return;
        }
    }
    std::size_t erased = 0;
    for (const auto& memory : memories_) {
        const auto space = description_ ? description_->getAddressSpace(memory->layout().name) : nullptr;
        for (const auto& segment : space ? space->getMemorySegmentsByType("flash") : DIList<DIMemorySegment>{}) {
            std::vector<std::uint8_t> pattern{kErased};
            MemoryErrorMapPtr errors;
            memory->fillMemory(segment->getStart(), 1, pattern, static_cast<std::int64_t>(segment->getSize()), 0, nullptr,
                               errors);
            std::uint32_t length = 0;
            if (errors && errors->getStatusAt(segment->getStart(), length) != 0)
                throw TargetError("Erasing " + segment->getName() + " of " + id_ + " failed");
            ++erased;
        }
    }
    if (erased == 0)
        throw TargetError("Nothing to erase: neither the server's memory map nor the description of " + id_ +
                                 " declares flash");
    messages_->report(Severity::Info, "Flash erased on " + id_);
}

void GdbDevice::getInfo(boost::json::value& info, int)
{
    info = {{"Name", deviceName_},
            {"Architecture", description_ ? description_->getArchitecture() : std::string()},
            {"Session", getProperties().at("Session")},
            {"PacketSize", link_->target.client().packetSize()},
            {"NoAckMode", link_->target.client().noAckMode()},
            {"Flash", link_->target.hasFlash()}};
}

void GdbDevice::runSpecialOperation(Status& status, int operation)
{
    status.setError(ErrorCode::InvalidArguments,
                    "Device %s has no special operation %d: run control is a special operation of its tool", id_.c_str(),
                    operation);
}

bool GdbDevice::isRunning() const { return link_->target.client().running(); }

std::optional<std::string> GdbDevice::lostReason() const
{
    std::lock_guard lock(mutex_);
    return lostReason_;
}

void GdbDevice::markLost(const std::string& reason)
{
    std::lock_guard lock(mutex_);
    lostReason_ = reason;
}

std::optional<TargetStop> GdbDevice::lastStop() const
{
    std::lock_guard lock(mutex_);
    return isRunning() ? std::nullopt : lastStop_;
}

void GdbDevice::halt()
{
    std::lock_guard lock(link_->mutex);
    flaggedFor(halting_, isRunning(), [&] { link_->target.halt(); });
}

void GdbDevice::resume()
{
    std::lock_guard lock(link_->mutex);
    if (isRunning())
        return;
    // Off a breakpoint written into memory first, by a step nobody hears of.
    flaggedFor(steppingOff_, true, [&] { link_->target.stepOffWrittenBreakpoint(); });
    steppingOff_ = false;
    // Told before the target can stop again, so that nobody hears of a stop before its resume.
    resumed_();
    link_->target.resume();
}

void GdbDevice::step()
{
    std::lock_guard lock(link_->mutex);
    flaggedFor(stepping_, true, [&] { link_->target.step(); });
}

void GdbDevice::reset(bool halted)
{
    {
        std::lock_guard lock(link_->mutex);
        flaggedFor(halting_, isRunning(), [&] { link_->target.halt(); });
        if (const auto refusal = rsp::monitorRefusal(link_->target.monitor(resetCommand_)))
            throw TargetError("The GDB server did not take the reset command \"" + resetCommand_ + "\": " + *refusal +
                              " (set the tool's \"ResetCommand\" to the reset its monitor knows)");
        messages_->report(Severity::Info, "Target reset");
    }
    if (!halted)
        resume();
}

StopPointKind GdbDevice::setStopPoint(StopPointKind kind, std::uint64_t address, std::uint64_t size, bool on)
{
    std::lock_guard lock(link_->mutex);
    if (!isRunning())
        return link_->target.setStopPoint(kind, address, size, on);
    // A server takes no packet while its target runs: the target is halted for the change, unseen
    // by anyone, and let go on, unless it stopped on its own meanwhile (that stop is told as any).
    flaggedFor(changingStopPoints_, true, [&] { link_->target.halt(); });
    const bool haltedForChange = haltedForChange_.exchange(false);
    struct LetGo {
        GdbTarget& target;
        bool resume;
        ~LetGo()
        {
            if (resume && !target.client().lost())
                target.resume();
        }
    } letGo{link_->target, haltedForChange};
    return link_->target.setStopPoint(kind, address, size, on);
}

std::string GdbDevice::monitor(const std::string& command)
{
    std::lock_guard lock(link_->mutex);
    return link_->target.monitor(command);
}

void GdbDevice::detach()
{
    link_->target.client().setLostHandler(nullptr);
    std::lock_guard lock(link_->mutex);
    link_->target.detach();
}

void GdbDevice::onStop(const rsp::StopReply& stop)
{
    // The halt that lets stop points change is nobody's business, unless the target stopped on its
    // own before the halt reached it (a breakpoint, a watchpoint, an exit).
    if (changingStopPoints_.exchange(false) && isInterruption(stop)) {
        haltedForChange_ = true;
        return;
    }
    if (steppingOff_)
        return;
    const bool stepped = stepping_.exchange(false);
    const bool asked = halting_.exchange(false);
    const TargetStop told = stopOf(stop, asked, stepped, pcRegister_);
    std::string text;
    if (told.reason == StopReason::Step)
        text = "Target stepped";
    else if (told.reason == StopReason::Suspended)
        text = "Target halted";
    else
        text = "Target stopped: " + told.description;
    {
        std::lock_guard lock(mutex_);
        lastStop_ = told;
    }
    messages_->report(Severity::Info, text);
    targetEvent(std::vector<std::uint8_t>(stop.packet.begin(), stop.packet.end()));
    stopped_(told);
}

TargetStop stopOf(const rsp::StopReply& stop, bool asked, bool stepped, const RemoteRegister* pc)
{
    TargetStop told;
    told.signal = stop.signal;
    told.description = stop.describe();
    const auto pair = [&](const std::string& key) -> const std::string* {
        const auto found = stop.pairs.find(key);
        return found == stop.pairs.end() ? nullptr : &found->second;
    };
    const std::string* watched = nullptr;
    for (const char* key : {"watch", "rwatch", "awatch"})
        watched = watched ? watched : pair(key);
    // Signals of a fault: an illegal instruction, a bus error, an arithmetic fault, a bad access.
    constexpr int kFaults[] = {4, 7, 8, 11};
    if (stop.kind == 'W' || stop.kind == 'X')
        told.reason = StopReason::Exception;
    else if (stepped)
        told.reason = StopReason::Step;
    else if (watched) {
        told.reason = StopReason::Watchpoint;
        told.dataAddress = rsp::parseHexNumber(*watched);
    } else if (pair("swbreak") || pair("hwbreak") || (stop.signal == 5 && !asked))
        told.reason = StopReason::Breakpoint;
    else if (asked || stop.signal == 2)
        told.reason = StopReason::Suspended;
    else if (std::find(std::begin(kFaults), std::end(kFaults), stop.signal) != std::end(kFaults))
        told.reason = StopReason::Exception;
    else
        told.reason = StopReason::Signal;
    // A 'T' reply may carry registers by number ("0f:<bytes in target order>").
    char number[8];
    std::snprintf(number, sizeof number, "%02x", pc ? pc->number : 0);
    if (const std::string* value = pc ? pair(number) : nullptr)
        if (const auto bytes = rsp::fromHex(*value); bytes && !bytes->empty() && bytes->size() <= 8) {
            std::uint64_t address = 0;
            for (std::size_t i = bytes->size(); i-- > 0;)
                address = address << 8 | static_cast<unsigned char>((*bytes)[i]);
            told.pc = address;
        }
    return told;
}

void GdbDevice::onOutput(const std::string& text)
{
    std::vector<std::string> lines;
    {
        std::lock_guard lock(mutex_);
        lines = outputLines_.feed(text);
    }
    for (const auto& line : lines)
        reportLine(line);
}

} // namespace hil::gdbremote
