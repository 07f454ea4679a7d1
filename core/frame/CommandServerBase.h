// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/json/value.hpp>


#include "core/frame/CommandArguments.h"
#include "core/interfaces/ICommandServer.h"
#include "core/interfaces/IOrixDebugger.h"
#include "core/interfaces/IService.h"
#include "platform/tcf/IIntermediateResult.h"

namespace hil {

/// The frame of every command server.
///
/// `handleCommand` is the one error boundary: it stamps the thread's owner slot with the
/// channel's id, dispatches the command through the server's command table, turns whatever is
/// thrown into one error value appended to the results, and sends exactly one reply.
///
/// The table starts with the generic "getContext" and "getChildren"; a server adds its own
/// commands in its constructor and may replace or remove the generic ones.
class CommandServerBase : public ICommandServer {
public:
    using Results = std::vector<std::string>;
    using Handler = std::function<void(const CommandArguments&, tcf::IIntermediateResult&, Results&)>;

    CommandServerBase(IOrixDebugger& debugger, std::shared_ptr<IService> service);
    ~CommandServerBase() override;
    CommandServerBase(const CommandServerBase&) = delete;
    CommandServerBase& operator=(const CommandServerBase&) = delete;

    void handleCommand(tcf::ICommandChannel& channel, const tcf::Token& token, const std::string& command,
                       const std::vector<std::string>& arguments) override;

    /// The command names the table holds, sorted; for documentation and tests.
    std::vector<std::string> commandNames() const;

protected:
    /// Runs the handler the table holds for `command`; false when it holds none.
    virtual bool dispatchCommand(const std::string& command, const std::vector<std::string>& arguments,
                                 tcf::IIntermediateResult& progress, Results& results);
    /// One argument, the context id: replies the success status and the context's properties.
    virtual void handleGetContext(const CommandArguments& arguments, tcf::IIntermediateResult& progress,
                                  Results& results);
    /// One argument, the parent id ("" for the root): replies the empty error and the children's
    /// ids in ascending order.
    virtual void handleGetChildren(const CommandArguments& arguments, tcf::IIntermediateResult& progress,
                                   Results& results);
    /// Subscribes to the signals of a context just added; nothing here.
    virtual void registerContextSignalHandlers(const ContextPtr& context);
    /// Turns the service's registry signals into "contextAdded" and "contextRemoved" events.
    virtual void registerServiceSignalHandlers();

    /// The context registered under `id`; null for the empty id. Throws the "Invalid context"
    /// status (code 16) for an unknown id, and a status when the service keeps no contexts.
    ContextPtr getContextOrThrow(const std::string& id) const;
    /// Throws the "Invalid context %s," status (code 16) naming `id`.
    [[noreturn]] static void throwInvalidContext(const std::string& id);
    /// Throws the "Invalid number of arguments" status (code 3) for `command`.
    [[noreturn]] void throwInvalidNumberOfArguments(const std::string& command, const CommandArguments& arguments) const;
    /// Sends "contextChanged" with the context's properties.
    void sendContextChanged(const ContextPtr& context) const;
    void onContextsAdded(ContextList& contexts);
    void onContextsRemoved(ContextList& contexts);

    /// Adds or replaces a table entry.
    void addCommand(const std::string& name, Handler handler);
    /// Adds or replaces a table entry with a member function of the server.
    template <class Server>
    void addCommand(const std::string& name,
                    void (Server::*handler)(const CommandArguments&, tcf::IIntermediateResult&, Results&))
    {
        auto* server = static_cast<Server*>(this);
        addCommand(name, [server, handler](const CommandArguments& arguments, tcf::IIntermediateResult& progress,
                                           Results& results) { (server->*handler)(arguments, progress, results); });
    }
    void removeCommand(const std::string& name);
    /// Declares that `command` replies `length` values: a failure's reply is padded with nulls
    /// after its error to that length, so that a client counting values reads the error.
    void setReplyLength(const std::string& command, std::size_t length) { replyLengths_[command] = length; }
    /// Adds a command of `minimum` to `maximum` arguments that replies the empty error and the
    /// one JSON value `answer` gives; what `answer` throws is reported as any handler's error.
    void addValueCommand(const std::string& name, std::size_t minimum, std::size_t maximum,
                         std::function<boost::json::value(const CommandArguments&)> answer);

    /// Ties a signal slot to this server's lifetime: the signal drops it when the server goes, so
    /// no announcement reaches a destroyed server. Every slot a server connects goes through here.
    template <class Slot>
    Slot tracked(Slot slot) const
    {
        slot.track_foreign(std::weak_ptr<const void>(lifetime_));
        return slot;
    }

    /// The error slot of a reply that succeeded.
    static std::string emptyError() { return {}; }
    /// The service's name, for error objects.
    std::string serviceName() const { return service_->getName(); }
    /// The service as a registry, or null when it keeps no contexts.
    IServiceBase* registry() const { return registry_; }

    IOrixDebugger& debugger_;
    std::shared_ptr<IService> service_;

private:
    [[noreturn]] void throwNoContexts() const;
    void appendError(Results& results);

    IServiceBase* registry_;
    std::unordered_map<std::string, Handler> commands_;
    std::unordered_map<std::string, std::size_t> replyLengths_;
    std::shared_ptr<const int> lifetime_ = std::make_shared<const int>(0);
};

} // namespace hil
