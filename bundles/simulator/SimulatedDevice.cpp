#include "bundles/simulator/SimulatedDevice.h"

#include <algorithm>

#include "core/interfaces/PropertyKeys.h"

namespace hil::simulator {

namespace {

namespace DeviceKey = keys::DeviceKey;
constexpr std::uint64_t kMaxSegmentBytes = 1u << 20;
const std::string kNoSession = "None";

enum EraseType { ChipErase = 0, EepromErase = 1, PageErase = 2, ChipEraseA = 11, ChipEraseB = 12 };
enum InfoSelector { Summary = 0, FlashBlank = 1 };
enum PropertySelector { SignatureSelector = 0, JtagIdSelector = 1, FlashSizeSelector = 2 };
enum SpecialOperation { ExternalReset = 1, PowerOff = 2, PowerOn = 3, TargetEvent = 4 };

bool isFlash(const DIMemorySegment& segment) { return segment.getType() == "flash"; }

} // namespace

SimulatedDevice::SimulatedDevice(std::string toolId, std::shared_ptr<DIDevice> description)
    : id_(toolId + "." + description->getName()),
      toolId_(std::move(toolId)),
      description_(std::move(description)),
      signature_(signatureProperty("DEVICEID") ? signatureProperty("DEVICEID")
                                                : (signatureProperty("SIGNATURE0") << 16) |
                                                      (signatureProperty("SIGNATURE1") << 8) | signatureProperty("SIGNATURE2")),
      jtagId_(signatureProperty("JTAGID"))
{
    for (const auto& space : description_->getAddressSpaces()) {
        for (const auto& segment : space->getMemorySegments()) {
            Segment backed{segment, std::vector<std::uint8_t>(std::min(segment->getSize(), kMaxSegmentBytes), 0x00)};
            // A program is in the flash when the device comes: it is not blank.
            if (isFlash(*segment))
                for (std::size_t i = 0; i < backed.bytes.size(); ++i)
                    backed.bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
            segments_.push_back(std::move(backed));
        }
    }
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
                                   {DeviceKey::RegistersID, ""}};
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
    std::lock_guard lock(mutex_);
    if (session_ != kNoSession) {
        status.setError(ErrorCode::InvalidArguments, "A %s is already running on %s", session_.c_str(), id_.c_str());
        return nullptr;
    }
    if (kind != kDebuggingSession && kind != kProgrammingSession) {
        status.setError(ErrorCode::InvalidArguments, "Unknown session kind %d", kind);
        return nullptr;
    }
    session_ = kind == kDebuggingSession ? "DebuggingSession" : "ProgrammingSession";
    return std::make_shared<SessionStartInfo>(SessionStartInfo{jtagId_, signature_, 0, 0xFF, 0});
}

bool SimulatedDevice::endSession()
{
    std::lock_guard lock(mutex_);
    if (session_ == kNoSession)
        return false;
    session_ = kNoSession;
    return true;
}

void SimulatedDevice::erase(int eraseType, bool, std::uint64_t address, int count)
{
    std::lock_guard lock(mutex_);
    for (auto& segment : segments_) {
        const auto& described = *segment.description;
        if (eraseType == EepromErase) {
            if (described.getType() == "eeprom")
                std::fill(segment.bytes.begin(), segment.bytes.end(), 0xFF);
        } else if (eraseType == PageErase) {
            const auto pageSize = static_cast<std::uint64_t>(std::max(described.getPageSize(), 1));
            if (!isFlash(described) || address < described.getStart())
                continue;
            const std::uint64_t from = address - described.getStart();
            const std::uint64_t to = std::min<std::uint64_t>(segment.bytes.size(), from + pageSize * static_cast<std::uint64_t>(std::max(count, 0)));
            if (from < to)
                std::fill(segment.bytes.begin() + static_cast<std::ptrdiff_t>(from), segment.bytes.begin() + static_cast<std::ptrdiff_t>(to), 0xFF);
        } else if (eraseType == ChipErase || eraseType == ChipEraseA || eraseType == ChipEraseB) {
            if (isFlash(described))
                std::fill(segment.bytes.begin(), segment.bytes.end(), 0xFF);
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
        bool blank = true;
        for (const auto& segment : segments_)
            if (isFlash(*segment.description))
                blank = blank && std::all_of(segment.bytes.begin(), segment.bytes.end(), [](auto b) { return b == 0xFF; });
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
            externalReset_(true);
            externalReset_(false);
        });
        break;
    case PowerOff: report([this] { powerState_(false); }); break;
    case PowerOn: report([this] { powerState_(true); }); break;
    case TargetEvent: report([this] { targetEvent_({0x01, 0x02, 0x03}); }); break;
    default: status.setError(ErrorCode::InvalidArguments, "Unknown special operation %d", operation);
    }
}

boost::signals2::connection SimulatedDevice::connectExternalResetSlot(boost::signals2::connect_position position,
                                                                      const FlagSignal::slot_type& slot)
{
    return externalReset_.connect(slot, position);
}

boost::signals2::connection SimulatedDevice::connectPowerStateSlot(boost::signals2::connect_position position,
                                                                   const FlagSignal::slot_type& slot)
{
    return powerState_.connect(slot, position);
}

boost::signals2::connection SimulatedDevice::connectTargetEventSlot(boost::signals2::connect_position position,
                                                                    const TargetEventSignal::slot_type& slot)
{
    return targetEvent_.connect(slot, position);
}

} // namespace hil::simulator
