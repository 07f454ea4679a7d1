// SPDX-License-Identifier: Apache-2.0
// The one error boundary of the verbs, and sending a command and printing its reply.

#include <algorithm>
#include <optional>
#include <stdexcept>

#include <boost/json.hpp>
#include <boost/system/system_error.hpp>

#include "cli/CliCommands.h"
#include "cli/StopRequests.h"

namespace hil::cli {

void requireArguments(const std::vector<std::string>& arguments, std::size_t least, std::size_t most,
                      const std::string& verb, const std::string& usage)
{
    if (arguments.size() < least || arguments.size() > most)
        throw UsageError(verb + " needs " + usage);
}

std::ostream& errorOut(CliContext& context)
{
    if (context.json)
        return context.errors << context.location;
    return context.err << "error: " << context.location;
}

void setData(CliContext& context, boost::json::value data)
{
    if (context.json)
        context.data = std::move(data);
}

namespace {

/// The code of a TCF error report; none when `value` is not one.
std::optional<std::int64_t> reportCode(const boost::json::value& value)
{
    if (!errorReportMessage(value).empty())
        return value.at("Code").as_int64();
    return std::nullopt;
}

int unknownReplyShape(CliContext& context, const std::exception& error)
{
    errorOut(context) << "the back-end's reply has a shape this CLI does not know (" << error.what() << ")\n";
    return ExitCode::Connection;
}

int runGuarded(CliContext& context, const std::string& name, const std::vector<std::string>& arguments)
{
    try {
        const Verb& verb = verbNamed(name);
        if (arguments.size() == 1 && arguments[0] == "--help") {
            if (context.json)
                setData(context, boost::json::value(verbHelp(name)));
            else
                context.out << verbHelp(name);
            return ExitCode::Ok;
        }
        return verb.run(context, verb.needsConnection ? withTargetNames(context, name, arguments) : arguments);
    } catch (const UsageError& error) {
        errorOut(context) << error.what() << "\n";
        return ExitCode::Usage;
    } catch (const StoppedTransfer& stopped) {
        errorOut(context) << name << ": " << stopped.what() << "\n";
        return ExitCode::Interrupted;
    } catch (const ReplyError& error) {
        errorOut(context) << error.what() << "\n";
        return ExitCode::ErrorReply;
    } catch (const HilError& error) {
        // A file this side reads or writes, an image that is no image.
        errorOut(context) << error.what() << "\n";
        return ExitCode::ErrorReply;
    } catch (const tcf::TcfClient::Error& error) {
        errorOut(context) << error.what() << "\n";
        return ExitCode::Connection;
    } catch (const boost::system::system_error& error) {
        return unknownReplyShape(context, error);
    } catch (const std::logic_error& error) {
        // The JSON library's accessors throw these two kinds for a member missing or a value of
        // another kind: the back-end does not speak the protocol this CLI knows.
        return unknownReplyShape(context, error);
    } catch (const std::exception& error) {
        errorOut(context) << name << " failed: " << error.what() << "\n";
        return ExitCode::ErrorReply;
    }
}

/// The verb's one JSON object: its data, and its errors as one message.
void printOutcome(CliContext& context, int result)
{
    boost::json::object outcome{{"data", context.data.value_or(nullptr)}};
    std::string message = context.errors.str();
    if (result != ExitCode::Ok || !message.empty()) {
        while (!message.empty() && message.back() == '\n')
            message.pop_back();
        for (auto at = message.find('\n'); at != std::string::npos; at = message.find('\n', at))
            message.replace(at, 1, "; ");
        outcome["error"] = boost::json::object{{"code", context.replyCode.value_or(result)}, {"message", message}};
    }
    context.out << boost::json::serialize(outcome) << std::endl;
}

} // namespace

int runVerb(CliContext& context, const std::string& name, const std::vector<std::string>& arguments)
{
    const int verbsBefore = ++context.verbsRun;
    context.data.reset();
    context.errors.str("");
    context.replyCode.reset();
    const int result = runGuarded(context, name, arguments);
    // A verb that ran others (a shell) leaves the printing to them.
    if (context.json && context.verbsRun == verbsBefore)
        printOutcome(context, result);
    return result;
}

int reportFailure(CliContext& context, int exitCode, const std::string& message)
{
    context.data.reset();
    context.errors.str("");
    context.replyCode.reset();
    errorOut(context) << message << "\n";
    if (context.json)
        printOutcome(context, exitCode);
    return exitCode;
}

int printReply(CliContext& context, const tcf::TcfClient::Reply& reply, const std::string& what,
               const HumanPrinter& human)
{
    if (!reply.recognised) {
        errorOut(context) << "the back-end does not offer " << what << "\n";
        return ExitCode::ErrorReply;
    }
    int result = ExitCode::Ok;
    boost::json::array values;
    for (const auto& text : reply.values) {
        auto value = parseOrNull(text);
        const std::string message = errorReportMessage(value, what);
        if (!message.empty()) {
            errorOut(context) << message << "\n";
            context.replyCode = reportCode(value);
            result = ExitCode::ErrorReply;
        }
        values.push_back(std::move(value));
    }
    if (context.json) {
        // The error slots (empty, or a report) are not data.
        boost::json::array data;
        for (const auto& value : values)
            if (!value.is_null() && errorReportMessage(value).empty())
                data.push_back(value);
        setData(context, data.empty()       ? boost::json::value()
                         : data.size() == 1 ? data[0]
                                            : boost::json::value(std::move(data)));
        return result;
    }
    if (result != ExitCode::Ok)
        return result;
    if (human) {
        human(context.out, values, reply.values);
        return result;
    }
    for (const auto& value : values)
        if (!value.is_null())
            context.out << prettyJson(value) << "\n";
    return result;
}

boost::json::array callForValues(CliContext& context, const std::string& service, const std::string& command,
                                 const std::vector<std::string>& arguments)
{
    const auto reply = context.client.call(service, command, arguments);
    if (!reply.recognised)
        throw ReplyError("the back-end does not offer " + service + " " + command);
    boost::json::array values;
    for (const auto& text : reply.values) {
        auto value = parseOrNull(text);
        if (const auto message = errorReportMessage(value, service + " " + command); !message.empty()) {
            context.replyCode = reportCode(value);
            throw ReplyError(command + " failed: " + message);
        }
        values.push_back(std::move(value));
    }
    if (values.size() < 2)
        throw ReplyError(service + " " + command + " answered no data");
    return values;
}

/// Throws `ReplyError` when the back-end does not offer `service`.
void requireService(CliContext& context, const std::string& service, const std::string& verb)
{
    const auto services = context.client.peerServices();
    if (std::find(services.begin(), services.end(), service) == services.end())
        throw ReplyError(verb + ": the back-end offers no " + service + " service (services lists those it has)");
}

/// The values of a reply whose first value is its error slot; throws `ReplyError` for an error
/// report ("VERB: TEXT"). Unlike `callForValues` it takes a reply of the error slot alone.
boost::json::array checkedValues(CliContext& context, const tcf::TcfClient::Reply& reply, const std::string& what,
                                 const std::string& verb)
{
    if (!reply.recognised)
        throw ReplyError(verb + ": the back-end does not offer " + what);
    boost::json::array values;
    for (const auto& text : reply.values)
        values.push_back(parseOrNull(text));
    for (const auto& value : values)
        if (const auto message = errorReportMessage(value, what); !message.empty()) {
            context.replyCode = value.at("Code").as_int64();
            throw ReplyError(verb + ": " + message);
        }
    return values;
}

boost::json::array callChecked(CliContext& context, const std::string& service, const std::string& command,
                               const std::vector<std::string>& arguments, const std::string& verb)
{
    return checkedValues(context, context.client.call(service, command, arguments), service + " " + command, verb);
}

int callAndPrint(CliContext& context, const std::string& service, const std::string& command,
                 const std::vector<std::string>& arguments, const HumanPrinter& human)
{
    return printReply(context, context.client.call(service, command, arguments), service + " " + command, human);
}

} // namespace hil::cli
