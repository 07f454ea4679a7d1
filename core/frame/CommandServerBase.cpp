// SPDX-License-Identifier: Apache-2.0
#include "core/frame/CommandServerBase.h"

#include <algorithm>

#include <boost/json.hpp>

#include "core/frame/ErrorDescr.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/CoreException.h"
#include "platform/common/FormatString.h"
#include "platform/common/JsonText.h"
#include "platform/common/Status.h"
#include "platform/tcf/GenericError.h"
#include "platform/tcf/IntermediateResultReporter.h"
#include "platform/tcf/Protocol.h"

namespace hil {

namespace {
const std::string kLibTcf = "libtcf";
}

CommandServerBase::CommandServerBase(IOrixDebugger& debugger, std::shared_ptr<IService> service)
    : debugger_(debugger), service_(std::move(service)), registry_(dynamic_cast<IServiceBase*>(service_.get()))
{
    addCommand("getContext", &CommandServerBase::handleGetContext);
    addCommand("getChildren", &CommandServerBase::handleGetChildren);
}

CommandServerBase::~CommandServerBase() = default;

void CommandServerBase::handleCommand(tcf::ICommandChannel& channel, const tcf::Token& token, const std::string& command,
                                      const std::vector<std::string>& arguments)
{
    tcf::IntermediateResultReporter progress(channel, token);
    debugger_.getCurrentOwnerSlot().set(channel.getChannelId());
    Results results;
    try {
        if (!dispatchCommand(command, arguments, progress, results))
            throw ErrorDescr(ErrorDescrCode::InvalidArguments, serviceName(), "Unknown command:" + command);
    } catch (...) {
        appendError(results);
        if (const auto length = replyLengths_.find(command); length != replyLengths_.end())
            results.resize(std::max(results.size(), length->second), "null");
    }
    channel.sendReply(token, std::move(results));
}

void CommandServerBase::appendError(Results& results)
{
    // Rethrown here so that the whole catch table lives in one place.
    const auto otherError = [&](const std::string& message) {
        BackendLogger::error("", message);
        results.push_back(ErrorDescr(ErrorDescrCode::Other, serviceName(), message).toJson());
    };
    try {
        throw;
    } catch (ErrorDescr& error) {
        BackendLogger::errorUnfiltered("", FormatString("Exception: Code (%i) Service: %s :%s", error.code,
                                                        error.service.c_str(), error.format.c_str()));
        results.push_back(error.toJson());
    } catch (const tcf::GenericError& error) {
        otherError(error.what());
    } catch (const CoreException& error) {
        BackendLogger::error("", error.getStatus()->getMessage());
        results.push_back(error.getStatus()->toJson());
    } catch (const std::exception& error) {
        otherError(error.what());
    } catch (const std::string& text) {
        otherError(text);
    } catch (const char* text) {
        otherError(text ? text : "");
    } catch (int number) {
        otherError("numeric error " + std::to_string(number));
    } catch (...) {
        otherError("The Service threw an unknown exception");
    }
}

bool CommandServerBase::dispatchCommand(const std::string& command, const std::vector<std::string>& arguments,
                                        tcf::IIntermediateResult& progress, Results& results)
{
    const auto entry = commands_.find(command);
    if (entry == commands_.end())
        return false;
    entry->second(CommandArguments(arguments), progress, results);
    return true;
}

std::vector<std::string> CommandServerBase::commandNames() const
{
    std::vector<std::string> names;
    for (const auto& entry : commands_)
        names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    return names;
}

void CommandServerBase::addCommand(const std::string& name, Handler handler) { commands_[name] = std::move(handler); }

void CommandServerBase::removeCommand(const std::string& name) { commands_.erase(name); }

void CommandServerBase::addValueCommand(const std::string& name, std::size_t minimum, std::size_t maximum,
                                        std::function<boost::json::value(const CommandArguments&)> answer)
{
    addCommand(name, [this, name, minimum, maximum, answer = std::move(answer)](
                         const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results) {
        if (arguments.count() < minimum || arguments.count() > maximum)
            throwInvalidNumberOfArguments(name, arguments);
        const auto value = answer(arguments);
        results.push_back(emptyError());
        results.push_back(jsonText(value));
    });
}

void CommandServerBase::handleGetContext(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    if (arguments.count() != 1 || arguments.rawText(0) == "\"\"")
        throwArgumentError();
    const std::string id = arguments.string(0);
    if (id.empty())
        CoreException::createAndThrow(kLibTcf, ErrorCode::InvalidContext, "Empty context id");
    const ContextPtr context = getContextOrThrow(id);
    results.push_back(Status().toJson());
    results.push_back(jsonText(context->getProperties()));
}

void CommandServerBase::handleGetChildren(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results)
{
    arguments.requireCount(1);
    if (!registry_)
        throwNoContexts();
    const ContextPtr parent = getContextOrThrow(arguments.stringUnchecked(0));
    boost::json::array ids;
    for (const auto& child : registry_->getChildren(parent))
        ids.emplace_back(child->getId());
    results.push_back(ErrorDescr().toJson());
    results.push_back(jsonText(ids));
}

void CommandServerBase::throwNoContexts() const
{
    CoreException::createAndThrow(kLibTcf, ErrorCode::InvalidContext, "Service (%s) does support any contexts.",
                                  serviceName().c_str());
}

ContextPtr CommandServerBase::getContextOrThrow(const std::string& id) const
{
    if (!registry_)
        throwNoContexts();
    ContextPtr context = registry_->getContextFromId(id);
    if (!id.empty() && !context)
        throwInvalidContext(id);
    return context;
}

void CommandServerBase::throwInvalidContext(const std::string& id)
{
    CoreException::createAndThrow(kLibTcf, ErrorCode::InvalidContext, "Invalid context %s,", id.c_str());
}

void CommandServerBase::throwInvalidNumberOfArguments(const std::string& command, const CommandArguments& arguments) const
{
    std::string listText;
    for (const auto& argument : arguments.texts())
        listText += ", " + argument;
    auto status = std::make_shared<Status>(
        Severity::Error, kLibTcf, ErrorCode::InvalidArguments,
        "Invalid number of arguments, (%d), passed to %s command. argument list was \"%s\".",
        static_cast<int>(arguments.count()), command.c_str(), listText.c_str());
    status->setServiceName(serviceName());
    throw CoreException(status);
}

void CommandServerBase::sendContextChanged(const ContextPtr& context) const
{
    boost::json::array changed;
    changed.emplace_back(context->getProperties());
    tcf::Protocol::sendEvent(serviceName(), "contextChanged", {jsonText(changed)});
}

void CommandServerBase::registerContextSignalHandlers(const ContextPtr&) {}

void CommandServerBase::registerServiceSignalHandlers()
{
    if (!registry_)
        return;
    registry_->addContextsAddedHandler(
        tracked(IServiceBase::ContextsSlot([this](ContextList& contexts) { onContextsAdded(contexts); })));
    registry_->addContextsRemovedHandler(
        tracked(IServiceBase::ContextsSlot([this](ContextList& contexts) { onContextsRemoved(contexts); })));
}

void CommandServerBase::onContextsAdded(ContextList& contexts)
{
    boost::json::array added;
    for (const auto& context : contexts) {
        added.emplace_back(context->getProperties());
        registerContextSignalHandlers(context);
    }
    tcf::Protocol::sendEvent(serviceName(), "contextAdded", {jsonText(added)});
}

void CommandServerBase::onContextsRemoved(ContextList& contexts)
{
    boost::json::array removed;
    for (const auto& context : contexts) {
        if (context)
            removed.emplace_back(context->getId());
    }
    tcf::Protocol::sendEvent(serviceName(), "contextRemoved", {jsonText(removed)});
}

} // namespace hil
