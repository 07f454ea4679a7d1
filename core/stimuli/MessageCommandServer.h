// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frame/CommandServerFor.h"
#include "core/interfaces/IMessageContext.h"
#include "core/interfaces/IMessageService.h"

namespace hil {

/// The TCF face of the Message service: the generic commands, "setProperties" (a JSON object
/// handed to any registered context as it is), and the event "message" (context id, source
/// name, text) for every status a message context reports. Any other command gets the error
/// {"Code":3,"Service":"Message","Format":"Unknown command"}.
class MessageCommandServer : public CommandServerFor<IMessageService> {
public:
    /// `service` must be an `IMessageService`; throws `std::invalid_argument` otherwise.
    MessageCommandServer(IOrixDebugger& debugger, std::shared_ptr<IService> service);

    static std::string getServiceName() { return "Message"; }

    void onMessage(const std::shared_ptr<IMessageContext>& context, const IStatus& status) const;

protected:
    bool dispatchCommand(const std::string& command, const std::vector<std::string>& arguments,
                         tcf::IIntermediateResult& progress, Results& results) override;
    void registerContextSignalHandlers(const ContextPtr& context) override;

private:
    void handleSetProperties(const CommandArguments& arguments, tcf::IIntermediateResult&, Results& results);

};

} // namespace hil
