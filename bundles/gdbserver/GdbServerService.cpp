// SPDX-License-Identifier: Apache-2.0
#include "bundles/gdbserver/GdbServerService.h"

#include <algorithm>
#include <charconv>

#include <boost/json.hpp>

#include "core/interfaces/IAdClassFactoryManager.h"
#include "core/interfaces/IDeviceService.h"
#include "core/interfaces/IObservableTool.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/ThreadName.h"

namespace hil::gdbserver {

namespace json = boost::json;

namespace {

const std::string kLog = "gdbserver";
const std::string kDefaultAddress = "127.0.0.1";
/// How far past the first port the servers that preference gives look for a free one.
constexpr int kPortsToTry = 256;

/// A port from 0 to 65535, as a number or as text; nullopt for anything else.
std::optional<std::uint16_t> portOf(const json::value& value)
{
    std::int64_t port = -1;
    if (value.is_int64()) {
        port = value.get_int64();
    } else if (value.is_uint64()) {
        port = value.get_uint64() <= 65535 ? static_cast<std::int64_t>(value.get_uint64()) : -1;
    } else if (value.is_string()) {
        const auto& text = value.get_string();
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
        if (error != std::errc() || end != text.data() + text.size())
            port = -1;
    }
    if (port < 0 || port > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

} // namespace

GdbServerService::GdbServerService(IOrixDebugger& debugger)
    : debugger_(debugger), model_(debugging::DebugTargets::of(debugger)), address_(kDefaultAddress)
{
    if (const auto factories = debugger.getClassFactoryManager()) {
        if (const auto address = factories->getPreference(kAddressPreference); !address.empty())
            address_ = address;
        if (const auto first = factories->getPreference(kFirstPortPreference); !first.empty()) {
            firstPort_ = portOf(json::value(first));
            if (!firstPort_ || *firstPort_ == 0)
                BackendLogger::error(kLog, kFirstPortPreference + " \"" + first + "\" is no port from 1 to 65535: passed over");
            if (firstPort_ == 0)
                firstPort_.reset();
        }
    }
    worker_ = std::thread([this] {
        setCurrentThreadName("gdb servers");
        runWork();
    });
    // On the model's events thread, with the model locked: hand on, never wait.
    registryWatches_.emplace_back(model_->connectRunEvents([this, gate = gate_](const debugging::RunEvent& event) {
        gate->pass([&] {
            if (event.kind == debugging::RunEvent::Kind::Added)
                post([this, id = event.targetId] { onAdded(id); });
            else if (event.kind == debugging::RunEvent::Kind::Removed)
                post([this, id = event.targetId] { onRemoved(id); });
        });
    }));
    if (const auto tools = std::dynamic_pointer_cast<IServiceBase>(debugger_.getService("Tool"))) {
        // Under the Tool registry's lock: only the tools' own signals are touched.
        registryWatches_.emplace_back(tools->addContextsAddedHandler([this, gate = gate_](ContextList& added) {
            gate->pass([&] { followTools(added); });
        }));
        registryWatches_.emplace_back(tools->addContextsRemovedHandler([this, gate = gate_](ContextList& removed) {
            gate->pass([&] {
                std::lock_guard lock(mutex_);
                for (const auto& tool : removed)
                    if (tool)
                        toolWatches_.erase(tool->getId());
            });
        }));
        followTools(tools->getChildren(nullptr));
    }
    // The targets that came before this service.
    post([this] {
        for (const auto& id : model_->targetIds())
            onAdded(id);
    });
}

GdbServerService::~GdbServerService()
{
    // A disconnected slot may still be running: the gate waits for it, and keeps the later ones out.
    gate_->close();
    registryWatches_.clear();
    {
        std::lock_guard lock(workMutex_);
        stopping_ = true;
    }
    workQueued_.notify_all();
    worker_.join();
    std::map<std::string, Served> served;
    {
        std::lock_guard lock(mutex_);
        toolWatches_.clear();
        served.swap(served_);
    }
}

json::array GdbServerService::servers() const
{
    std::lock_guard lock(mutex_);
    json::array list;
    for (const auto& [id, served] : served_)
        if (served.server)
            list.push_back(served.server->describe());
    return list;
}

void GdbServerService::post(std::function<void()> work)
{
    {
        std::lock_guard lock(workMutex_);
        work_.push_back(std::move(work));
    }
    workQueued_.notify_one();
}

void GdbServerService::runWork()
{
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(workMutex_);
            workQueued_.wait(lock, [this] { return stopping_ || !work_.empty(); });
            if (stopping_)
                return;
            work = std::move(work_.front());
            work_.pop_front();
        }
        try {
            work();
        } catch (const std::exception& error) {
            BackendLogger::error(kLog, error.what());
        }
    }
}

void GdbServerService::followTools(const ContextList& tools)
{
    for (const auto& context : tools) {
        const auto tool = std::dynamic_pointer_cast<IToolContext>(context);
        auto* observable = dynamic_cast<IObservableTool*>(context.get());
        if (!tool || !observable)
            continue;
        // Weak: the slot lives in the tool's own signal.
        auto watch = observable->connectPropertiesSet(
            [this, gate = gate_, weakTool = std::weak_ptr<IToolContext>(tool)](const json::object& set) {
                if (const auto* value = set.if_contains(kServerProperty))
                    gate->pass([&] {
                        if (const auto tool = weakTool.lock())
                            onServerProperty(tool, *value);
                    });
            });
        std::lock_guard lock(mutex_);
        toolWatches_[tool->getId()] = std::move(watch);
    }
}

void GdbServerService::onServerProperty(const std::shared_ptr<IToolContext>& tool, const json::value& value)
{
    const bool close = value.is_null() || (value.is_bool() && !value.get_bool());
    const auto port = portOf(value);
    if (!close && !port) {
        tool->setToolProperties({{kErrorProperty, kServerProperty + " is a port from 0 (any free one) to 65535, or null for "
                                                                    "none, not " + json::serialize(value)}});
        return;
    }
    // Without a target yet, the server opens when the target comes.
    if (const auto targetId = targetOf(*tool); !targetId.empty())
        serve(targetId, tool, port, close);
}

void GdbServerService::onAdded(const std::string& targetId)
{
    const auto tool = toolOf(*model_->deviceOf(targetId));
    {
        std::lock_guard lock(mutex_);
        if (served_.contains(targetId))
            return;
        served_[targetId].tool = tool;
    }
    // What the tool asks for; else, with the first-port preference, a server for every target.
    const auto properties = tool ? tool->getProperties() : json::object();
    if (const auto* asked = properties.if_contains(kServerProperty); asked && !asked->is_null())
        onServerProperty(tool, *asked);
    else if (firstPort_)
        serve(targetId, tool, std::nullopt, false);
}

void GdbServerService::onRemoved(const std::string& targetId)
{
    std::unique_lock serving(serving_);
    Served gone;
    {
        std::lock_guard lock(mutex_);
        const auto found = served_.find(targetId);
        if (found == served_.end())
            return;
        gone = std::move(found->second);
        served_.erase(found);
    }
    const bool hadServer = gone.server != nullptr;
    gone.server.reset();
    serving.unlock();
    if (hadServer && gone.tool)
        gone.tool->setToolProperties({{kPortProperty, nullptr}});
}

void GdbServerService::serve(const std::string& targetId, const std::shared_ptr<IToolContext>& tool,
                             std::optional<std::uint16_t> port, bool close)
{
    json::object report{{kPortProperty, nullptr}, {kErrorProperty, nullptr}};
    {
        std::lock_guard serving(serving_);
        if (const auto ids = model_->targetIds(); std::find(ids.begin(), ids.end(), targetId) == ids.end())
            return; // gone meanwhile: its removal has been, or will be, handled
        std::unique_ptr<GdbServer> previous;
        {
            std::lock_guard lock(mutex_);
            auto& served = served_[targetId];
            served.tool = tool;
            // Asked again for what it has (any port, or its own): it stays, and so does its gdb.
            if (!close && served.server && (!port || *port == 0 || *port == served.server->port()))
                report[kPortProperty] = served.server->port();
            else
                previous = std::move(served.server);
        }
        if (!report[kPortProperty].is_null())
            close = true; // nothing to open
        // The old server goes first: the new one may want its port.
        previous.reset();
        if (!close) {
            try {
                auto server = open(targetId, port);
                report[kPortProperty] = server->port();
                std::lock_guard lock(mutex_);
                served_[targetId].server = std::move(server);
            } catch (const std::exception& error) {
                BackendLogger::error(kLog, "No GDB server for " + targetId + ": " + error.what());
                report[kErrorProperty] = error.what();
            }
        }
    }
    if (tool)
        tool->setToolProperties(report);
}

std::unique_ptr<GdbServer> GdbServerService::open(const std::string& targetId, std::optional<std::uint16_t> port)
{
    const auto target = describeTarget(targetId);
    if (port)
        return std::make_unique<GdbServer>(target, address_, *port);
    const int last = std::min<int>(65535, *firstPort_ + kPortsToTry - 1);
    for (int candidate = *firstPort_; candidate < last; ++candidate) {
        try {
            return std::make_unique<GdbServer>(target, address_, static_cast<std::uint16_t>(candidate));
        } catch (const std::runtime_error&) {
            // taken: the next one
        }
    }
    return std::make_unique<GdbServer>(target, address_, static_cast<std::uint16_t>(last));
}

std::shared_ptr<IToolContext> GdbServerService::toolOf(const IDeviceContext& device) const
{
    const auto properties = device.getProperties();
    const auto* toolId = properties.if_contains("Tool");
    const auto tools = std::dynamic_pointer_cast<IServiceBase>(debugger_.getService("Tool"));
    if (!tools || !toolId || !toolId->is_string())
        return nullptr;
    return std::dynamic_pointer_cast<IToolContext>(tools->getContextFromId(std::string(toolId->get_string())));
}

std::string GdbServerService::targetOf(const IToolContext& tool) const
{
    const std::string toolId = tool.getId();
    for (const auto& id : model_->targetIds())
        if (const auto owner = toolOf(*model_->deviceOf(id)); owner && owner->getId() == toolId)
            return id;
    return {};
}

std::shared_ptr<const ServedTarget> GdbServerService::describeTarget(const std::string& targetId) const
{
    auto target = std::make_shared<ServedTarget>();
    target->id = targetId;
    target->model = model_;
    target->device = model_->deviceOf(targetId);
    target->tool = toolOf(*target->device);
    if (const auto parent = debugger_.getParentLookup().findParent(targetId)) {
        if (const auto memories = parent->listMemoryContexts(); !memories.empty())
            target->memory = memories.front();
        target->registers = registerLayout(parent->listRegistersContexts());
    }
    target->targetXml = targetXml(target->registers);
    // The memory map comes from the device description, when the tool names one.
    const auto properties = target->tool ? target->tool->getProperties() : json::object();
    const auto* deviceName = properties.if_contains("DeviceName");
    if (const auto devices = debugger_.getDeviceService(); devices && deviceName && deviceName->is_string() &&
                                                           !deviceName->get_string().empty()) {
        Status status;
        if (const auto description = devices->getDeviceInfo(status, std::string(deviceName->get_string())))
            target->memoryMap = memoryAreas(*description);
    }
    return target;
}

GdbServerCommandServer::GdbServerCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    addValueCommand("getServers", 0, 0, [this](const CommandArguments&) { return json::value(service()->servers()); });
}

} // namespace hil::gdbserver
