// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbremote/GdbTool.h"

#include <cmath>

#include "bundles/common/TargetRegistration.h"
#include "core/interfaces/PropertyKeys.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/TextNumbers.h"
#include "platform/tcf/HeldReplies.h"

namespace hil::gdbremote {

namespace {

namespace ToolKey = keys::ToolDescriptionKey;
const std::string kResetCommand = "ResetCommand";
const std::string kTimeout = "Timeout";
const std::string kGdbPort = "GdbPort";
const std::string kQemuPid = "QemuPid";
/// The name of the device of a target nobody described.
const std::string kUndescribedDevice = "target";
constexpr std::int64_t kDefaultTimeoutMs = 3000;
constexpr auto kStubOpenTimeout = std::chrono::seconds(10);

/// The device descriptions we ship for QEMU machines.
std::string deviceOfMachine(const std::string& machine)
{
    return machine == kDefaultQemuMachine ? "MPS2-AN385" : "";
}

/// A number parameter: a JSON number, or a text such as "0x400".
std::optional<std::uint64_t> numberOf(const boost::json::object& parameters, const char* key)
{
    const auto* address = parameters.if_contains(key);
    if (!address)
        return std::nullopt;
    if (address->is_uint64())
        return address->get_uint64();
    if (address->is_int64() && address->get_int64() >= 0)
        return static_cast<std::uint64_t>(address->get_int64());
    if (address->is_string())
        return parseUnsigned(address->get_string());
    return std::nullopt;
}

bundles::TargetContexts targetOf(const std::shared_ptr<GdbDevice>& device)
{
    return bundles::targetContextsOf(device, {device->messages()});
}

} // namespace

GdbTool::GdbTool(IOrixDebugger& debugger, std::string id, std::shared_ptr<GdbConnection> connection)
    : DriverTool(debugger, std::move(id), "gdbremote", kGdbRemoteToolType, connection),
      connection_(std::move(connection))
{
    properties_[ToolKey::DeviceName] = connection_->isQemu() ? deviceOfMachine(connection_->text(kMachineProperty)) : "";
    properties_[kResetCommand] = connection_->isQemu() ? "system_reset" : "reset halt";
    properties_[kTimeout] = kDefaultTimeoutMs;
}

GdbTool::~GdbTool()
{
    dropTarget(false);
    waitForLossReport();
}

std::chrono::milliseconds GdbTool::timeout() const
{
    std::lock_guard lock(mutex_);
    const auto* value = properties_.if_contains(kTimeout);
    const std::int64_t ms = value && value->is_int64() ? value->get_int64() : kDefaultTimeoutMs;
    return std::chrono::milliseconds(std::clamp<std::int64_t>(ms, 50, 600000));
}

double GdbTool::getTargetVoltage() { return std::nan(""); }

std::shared_ptr<GdbDevice> GdbTool::device() const
{
    std::lock_guard lock(mutex_);
    return device_;
}

std::unique_ptr<RspClient> GdbTool::connectClient(const std::string& host, std::uint16_t port)
{
    const RspClient::Options options{timeout(), 1u << 20};
    const auto deadline = std::chrono::steady_clock::now() + kStubOpenTimeout;
    for (;;) {
        try {
            return std::make_unique<RspClient>(host, port, options);
        } catch (const TargetLostError&) {
            // A QEMU we started opens its stub a moment after its UART: wait for it.
            const bool starting = qemu_ && qemu_->alive() && std::chrono::steady_clock::now() < deadline;
            if (!starting)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

void GdbTool::attachTarget(std::shared_ptr<DIDevice> description, const std::string& deviceName)
{
    // Starting QEMU and opening the server take up to seconds: the replies to the commands
    // ahead of this one go out now.
    tcf::sendHeldReplies();
    std::string host = connection_->text("Host", "127.0.0.1");
    std::uint16_t port = connection_->port();
    if (connection_->isQemu()) {
        const std::weak_ptr<GdbTool> self = shared_from_this();
        qemu_ = std::make_unique<QemuProcess>(connection_->text(kMachineProperty, kDefaultQemuMachine), text(kKernelProperty),
                                              [self](const std::string& line) {
                                                  if (const auto tool = self.lock())
                                                      if (const auto target = tool->device())
                                                          target->reportLine(line);
                                              },
                                              [self] {
                                                  if (const auto tool = self.lock())
                                                      tool->onLost("qemu-system-arm exited");
                                              });
        host = "127.0.0.1";
        port = qemu_->gdbPort();
    }
    auto client = connectClient(host, port);
    const std::weak_ptr<GdbTool> self = shared_from_this();
    client->setLostHandler([self](const std::string& reason) {
        if (const auto tool = self.lock())
            tool->onLost(reason);
    });
    auto link = std::make_shared<TargetLink>(std::move(client));
    auto device = GdbDevice::create(id_, deviceName.empty() ? kUndescribedDevice : deviceName, std::move(description), link,
                                    text(kResetCommand));
    {
        std::lock_guard lock(mutex_);
        device_ = device;
        lossReported_ = false;
        endpoint_ = host + ":" + std::to_string(port);
        if (qemu_) {
            properties_[kGdbPort] = port;
            properties_[kQemuPid] = qemu_->pid();
        }
    }
    EndpointsInUse::instance().add(endpoint_);
    bundles::registerTarget(debugger_, targetOf(device));
}

void GdbTool::dropTarget(bool detach)
{
    std::shared_ptr<GdbDevice> device;
    std::unique_ptr<QemuProcess> qemu;
    std::string endpoint;
    {
        std::lock_guard lock(mutex_);
        device.swap(device_);
        qemu.swap(qemu_);
        endpoint.swap(endpoint_);
        properties_.erase(kGdbPort);
        properties_.erase(kQemuPid);
    }
    if (!endpoint.empty())
        EndpointsInUse::instance().remove(endpoint);
    if (device) {
        bundles::unregisterTarget(debugger_, targetOf(device));
        if (detach) {
            try {
                device->detach();
            } catch (const std::exception& error) {
                BackendLogger::info("gdbremote", "Detaching " + id_ + ": " + error.what());
            }
        }
    }
    // The QEMU goes before the device's last reference: its UART thread reports to the device.
    qemu.reset();
}

void GdbTool::onLost(const std::string& reason)
{
    {
        // QEMU's exit and the broken stub may both tell of one loss: it is reported once.
        std::lock_guard lock(mutex_);
        if (!device_ || lossReported_)
            return;
        lossReported_ = true;
    }
    BackendLogger::error("gdbremote", "Tool " + id_ + ": " + reason);
    reportLoss(
        [this, reason] {
            if (const auto target = device())
                target->markLost(reason);
            dropTarget(false);
            setState(keys::ToolState::Idle);
        },
        reason);
}

std::vector<boost::json::object> GdbTool::detectDevices(Status& status)
{
    std::vector<boost::json::object> devices;
    bundles::reportFailure(status, "", [&] {
        devices.push_back({{"Name", connected(device())->getProperties().at("Name")}, {"Interface", "GDB remote"}});
    });
    return devices;
}

void GdbTool::genericCommand(Status& status, std::vector<std::uint8_t>&, const std::vector<std::uint8_t>&, int)
{
    unsupported(status, "raw commands: send monitor commands as text");
}

bool GdbTool::genericStringCommand(Status& status, std::string& response, const std::string& command)
{
    return bundles::reportFailure(status, "", [&] { response = connected(device())->monitor(command); });
}

void GdbTool::specialOperation(Status& status, const std::string& operation, const boost::json::object& parameters)
{
    using Operation = std::function<void(GdbDevice&)>;
    const bool needsAddress = operation.find("point") != std::string::npos;
    const auto address = numberOf(parameters, "Address");
    const auto size = numberOf(parameters, "Size").value_or(4);
    const std::map<std::string, Operation> operations{
        {"halt", [](GdbDevice& target) { target.halt(); }},
        {"resume", [](GdbDevice& target) { target.resume(); }},
        {"step", [](GdbDevice& target) { target.step(); }},
        {"reset", [](GdbDevice& target) { target.reset(true); }},
        {"breakpoint", [&](GdbDevice& target) { target.setStopPoint(StopPointKind::SoftwareBreakpoint, *address, 2, true); }},
        {"unbreakpoint", [&](GdbDevice& target) { target.setStopPoint(StopPointKind::SoftwareBreakpoint, *address, 2, false); }},
        {"watchpoint", [&](GdbDevice& target) { target.setStopPoint(StopPointKind::WriteWatchpoint, *address, size, true); }},
        {"unwatchpoint", [&](GdbDevice& target) { target.setStopPoint(StopPointKind::WriteWatchpoint, *address, size, false); }},
    };
    const auto found = operations.find(operation);
    if (found == operations.end()) {
        status.setError(ErrorCode::InvalidArguments,
                        "Unknown special operation %s (halt, resume, step, reset, breakpoint, unbreakpoint, "
                        "watchpoint, unwatchpoint)",
                        operation.c_str());
        return;
    }
    if (needsAddress && !address) {
        status.setError(ErrorCode::InvalidArguments, "%s needs an \"Address\": a number or a text such as \"0x400\"",
                        operation.c_str());
        return;
    }
    bundles::reportFailure(status, operation + " failed", [&] { found->second(*connected(device())); });
}

} // namespace hil::gdbremote
