// SPDX-License-Identifier: Apache-2.0
#include "bundles/simulator/SimulatedDevice.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "core/interfaces/PropertyKeys.h"

namespace hil::simulator {

namespace {

namespace DeviceKey = keys::DeviceKey;
const std::string kNoSession = "None";

enum EraseType { ChipErase = 0, EepromErase = 1, PageErase = 2, ChipEraseA = 11, ChipEraseB = 12 };
enum InfoSelector { Summary = 0, FlashBlank = 1 };
enum PropertySelector { SignatureSelector = 0, JtagIdSelector = 1, FlashSizeSelector = 2 };
enum SpecialOperation { ExternalReset = 1, PowerOff = 2, PowerOn = 3, TargetEvent = 4 };

bool isFlash(const DIMemorySegment& segment) { return segment.getType() == "flash"; }
bool isEeprom(const DIMemorySegment& segment) { return segment.getType() == "eeprom"; }

} // namespace

SimulatedDevice::SimulatedDevice(std::string toolId, std::shared_ptr<DIDevice> description)
    : DriverDevice(toolId + "." + description->getName()),
      toolId_(std::move(toolId)),
      description_(std::move(description)),
      signature_(signatureProperty("DEVICEID") ? signatureProperty("DEVICEID")
                                                : (signatureProperty("SIGNATURE0") << 16) |
                                                      (signatureProperty("SIGNATURE1") << 8) | signatureProperty("SIGNATURE2")),
      jtagId_(signatureProperty("JTAGID"))
{
}

std::shared_ptr<SimulatedDevice> SimulatedDevice::create(std::string toolId, std::shared_ptr<DIDevice> description)
{
    auto device = std::make_shared<SimulatedDevice>(std::move(toolId), std::move(description));
    device->buildContexts();
    return device;
}

void SimulatedDevice::buildContexts()
{
    const std::weak_ptr<IContextBase> self = std::static_pointer_cast<IDeviceContext>(shared_from_this());
    const std::vector<std::uint8_t> signatureBytes{static_cast<std::uint8_t>(signature_ >> 16),
                                                   static_cast<std::uint8_t>(signature_ >> 8),
                                                   static_cast<std::uint8_t>(signature_)};
    for (const auto& space : description_->getAddressSpaces()) {
        auto memory = std::make_shared<SimulatedMemory>(id_ + "." + space->getId(), self, id_, *space);
        for (const auto& segment : space->getMemorySegmentsByType("signatures"))
            memory->load(segment->getStart(), signatureBytes);
        memories_.push_back(std::move(memory));
    }
    messages_ = std::make_shared<bundles::TargetMessages>(id_ + ".messages", self, id_, description_->getName(), "simulator");
    // The port outlives nothing of the device: it finds the memories through a weak reference.
    const std::weak_ptr<SimulatedDevice> device = shared_from_this();
    stimuliPort_ = std::make_shared<SimulatedStimuliPort>(id_, [device](const std::string& space) -> std::shared_ptr<IMemoryContext> {
        const auto owner = device.lock();
        if (!owner)
            return nullptr;
        for (const auto& memory : owner->memories_)
            if (memory->name() == space)
                return memory;
        return nullptr;
    });
    for (auto& layout : cpuRegistersOf(description_->getArchitecture())) {
        const std::string registerId = id_ + "." + layout.name;
        registers_.push_back(std::make_shared<SimulatedRegister>(registerId, self, id_, std::move(layout)));
    }
}

std::vector<std::shared_ptr<IMemoryContext>> SimulatedDevice::listMemoryContexts() const
{
    return {memories_.begin(), memories_.end()};
}

std::vector<std::shared_ptr<IRegistersContext>> SimulatedDevice::listRegistersContexts() const
{
    return {registers_.begin(), registers_.end()};
}

SimulatedDevice::~SimulatedDevice()
{
    if (reporter_.joinable())
        reporter_.join();
}

std::uint32_t SimulatedDevice::signatureProperty(const std::string& key) const
{
    const auto group = description_->getPropertyGroup("SIGNATURES");
    const auto property = group ? group->getProperty(key) : nullptr;
    return property ? property->getValueAsUnsigned() : 0;
}

boost::json::object SimulatedDevice::getProperties() const
{
    std::lock_guard lock(mutex_);
    boost::json::object properties{{"ID", id_},
                                   {DeviceKey::Name, description_->getName()},
                                   {"Tool", toolId_},
                                   {DeviceKey::Session, session_},
                                   {DeviceKey::Signature, signature_},
                                   {DeviceKey::JtagId, jtagId_},
                                   {DeviceKey::MemoryIDs, boost::json::array{}},
                                   {DeviceKey::RegistersID, id_}};
    auto& memoryIds = properties[DeviceKey::MemoryIDs].as_array();
    for (const auto& memory : memories_)
        memoryIds.emplace_back(memory->getId());
    for (const auto& [key, value] : extraProperties_)
        properties[key] = value;
    return properties;
}

void SimulatedDevice::setProperties(const boost::json::object& properties)
{
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : properties)
        if (key != "ID")
            extraProperties_[key] = value;
}

std::shared_ptr<SessionStartInfo> SimulatedDevice::startSession(Status& status, int kind, bool, std::shared_ptr<void>)
{
    std::string started;
    {
        std::lock_guard lock(mutex_);
        if (session_ != kNoSession) {
            status.setError(ErrorCode::InvalidArguments, "A %s is already running on %s", session_.c_str(), id_.c_str());
            return nullptr;
        }
        if (kind != kDebuggingSession && kind != kProgrammingSession) {
            status.setError(ErrorCode::InvalidArguments, "Unknown session kind %d", kind);
            return nullptr;
        }
        session_ = started = kind == kDebuggingSession ? "DebuggingSession" : "ProgrammingSession";
    }
    messages_->report(Severity::Info, started + " started on " + id_);
    return std::make_shared<SessionStartInfo>(SessionStartInfo{jtagId_, signature_, 0, 0xFF, 0});
}

bool SimulatedDevice::endSession()
{
    std::string ended;
    {
        std::lock_guard lock(mutex_);
        if (session_ == kNoSession)
            return false;
        ended = std::exchange(session_, kNoSession);
    }
    messages_->report(Severity::Info, ended + " ended on " + id_);
    return true;
}

void SimulatedDevice::erase(int eraseType, bool, std::uint64_t address, int count)
{
    if (eraseType == EepromErase) {
        for (const auto& memory : memories_)
            memory->eraseSegments(isEeprom);
        messages_->report(Severity::Info, "EEPROM erased on " + id_);
    } else if (eraseType == ChipErase || eraseType == ChipEraseA || eraseType == ChipEraseB) {
        for (const auto& memory : memories_)
            memory->eraseSegments(isFlash);
        messages_->report(Severity::Info, "Flash erased on " + id_);
    } else if (eraseType == PageErase) {
        // Pages of the flash segment that holds the address, in that segment's page size.
        const auto spaces = description_->getAddressSpaces();
        for (std::size_t index = 0; index < spaces.size(); ++index) {
            for (const auto& segment : spaces[index]->getMemorySegmentsByType("flash")) {
                if (address < segment->getStart() || address - segment->getStart() >= segment->getSize())
                    continue;
                const auto pageSize = static_cast<std::uint64_t>(std::max(segment->getPageSize(), 1));
                const std::uint64_t end = address + pageSize * static_cast<std::uint64_t>(std::max(count, 0));
                memories_[index]->eraseSegments(isFlash, address, end);
                std::ostringstream text;
                text << count << " flash page(s) erased from 0x" << std::hex << std::uppercase << address << " on " << id_;
                messages_->report(Severity::Info, text.str());
                break;
            }
        }
    }
}

void SimulatedDevice::getInfo(boost::json::value& info, int selector)
{
    std::lock_guard lock(mutex_);
    if (selector == Summary) {
        info = boost::json::object{{"Name", description_->getName()},
                                   {"Architecture", description_->getArchitecture()},
                                   {"Series", description_->getSeries()},
                                   {"Session", session_}};
    } else if (selector == FlashBlank) {
        const bool blank = std::all_of(memories_.begin(), memories_.end(),
                                       [](const auto& memory) { return memory->segmentsBlank(isFlash); });
        info = boost::json::object{{"FlashBlank", blank}};
    } else {
        info = nullptr;
    }
}

void SimulatedDevice::getProperty(boost::json::value& property, int selector)
{
    switch (selector) {
    case SignatureSelector: property = signature_; break;
    case JtagIdSelector: property = jtagId_; break;
    case FlashSizeSelector: {
        const auto parameters = description_->getParameters();
        const auto flashSize = parameters ? parameters->getProperty("FlashSize") : nullptr;
        property = flashSize ? flashSize->getValueAsUnsigned64() : 0;
        break;
    }
    default: property = nullptr;
    }
}

void SimulatedDevice::report(std::function<void()> report)
{
    if (reporter_.joinable())
        reporter_.join();
    reporter_ = std::thread(std::move(report));
}

void SimulatedDevice::runSpecialOperation(Status& status, int operation)
{
    switch (operation) {
    case ExternalReset:
        report([this] {
            externalReset(true);
            messages_->report(Severity::Warning, "External reset of " + id_);
            externalReset(false);
        });
        break;
    case PowerOff: report([this] { powerState(false); }); break;
    case PowerOn: report([this] { powerState(true); }); break;
    case TargetEvent: report([this] { targetEvent({0x01, 0x02, 0x03}); }); break;
    default: status.setError(ErrorCode::InvalidArguments, "Unknown special operation %d", operation);
    }
}

} // namespace hil::simulator
