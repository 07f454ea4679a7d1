// SPDX-License-Identifier: Apache-2.0
#include "core/stimuli/MessageCommandServer.h"

#include <stdexcept>

#include <boost/json.hpp>

#include "core/frame/ErrorDescr.h"
#include "platform/common/JsonText.h"
#include "platform/tcf/Protocol.h"

namespace hil {

MessageCommandServer::MessageCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> given)
    : CommandServerFor(debugger, std::move(given))
{
    addCommand("setProperties", &MessageCommandServer::handleSetProperties);
    registerServiceSignalHandlers();
}

bool MessageCommandServer::dispatchCommand(const std::string& command, const std::vector<std::string>& arguments,
                                           tcf::IIntermediateResult& progress, Results& results)
{
    if (!CommandServerBase::dispatchCommand(command, arguments, progress, results))
        throw ErrorDescr(ErrorDescrCode::InvalidArguments, serviceName(), "Unknown command");
    return true;
}

void MessageCommandServer::handleSetProperties(const CommandArguments& arguments, tcf::IIntermediateResult&,
                                               Results& results)
{
    arguments.requireCount(2);
    const std::string id = arguments.string(0);
    const boost::json::object properties = arguments.object(1);
    // An empty id names no context: it is a wrong argument, not a context to look for.
    if (id.empty())
        throwArgumentError();
    getContextOrThrow(id)->setProperties(properties);
    results.push_back(emptyError());
}

void MessageCommandServer::registerContextSignalHandlers(const ContextPtr& context)
{
    const auto messages = std::dynamic_pointer_cast<IMessageContext>(context);
    if (!messages)
        return;
    // Held weakly: the slot lives in the context's own signal.
    const std::weak_ptr<IMessageContext> source = messages;
    messages->addMessageHandler(tracked(MessageSignal::slot_type([this, source](const IStatus& status) {
        if (const auto context = source.lock())
            onMessage(context, status);
    })));
}

void MessageCommandServer::onMessage(const std::shared_ptr<IMessageContext>& context, const IStatus& status) const
{
    tcf::Protocol::sendEvent(serviceName(), "message",
                             {jsonText(context->getId()), jsonText(context->getSourceName()), jsonText(status.getMessage())});
}

} // namespace hil
