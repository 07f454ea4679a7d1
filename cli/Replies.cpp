// The one error boundary of the verbs, and sending a command and printing its reply.

#include <boost/json.hpp>

#include "cli/CliCommands.h"

namespace hil::cli {

void requireArguments(const std::vector<std::string>& arguments, std::size_t least, std::size_t most,
                      const std::string& verb, const std::string& usage)
{
    if (arguments.size() < least || arguments.size() > most)
        throw UsageError(verb + " needs " + usage);
}

std::ostream& errorOut(CliContext& context) { return context.err << "error: " << context.location; }

int runVerb(CliContext& context, const std::string& name, const std::vector<std::string>& arguments)
{
    try {
        const Verb& verb = verbNamed(name);
        if (arguments.size() == 1 && arguments[0] == "--help") {
            context.out << verbHelp(name);
            return ExitCode::Ok;
        }
        return verb.run(context, arguments);
    } catch (const UsageError& error) {
        errorOut(context) << error.what() << "\n";
        return ExitCode::Usage;
    } catch (const ReplyError& error) {
        errorOut(context) << error.what() << "\n";
        return ExitCode::ErrorReply;
    } catch (const tcf::TcfClient::Error& error) {
        errorOut(context) << error.what() << "\n";
        return ExitCode::Connection;
    } catch (const std::exception& error) {
        // A printer met a reply it cannot read (a member missing, a value of another kind): the
        // back-end does not speak the protocol this CLI knows.
        errorOut(context) << "the back-end's reply has a shape this CLI does not know (" << error.what() << ")\n";
        return ExitCode::Connection;
    }
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
            result = ExitCode::ErrorReply;
        }
        values.push_back(std::move(value));
    }
    if (context.json) {
        context.out << boost::json::serialize(values) << "\n";
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
        if (const auto message = errorReportMessage(value, service + " " + command); !message.empty())
            throw ReplyError(command + " failed: " + message);
        values.push_back(std::move(value));
    }
    if (values.size() < 2)
        throw ReplyError(service + " " + command + " answered no data");
    return values;
}

int callAndPrint(CliContext& context, const std::string& service, const std::string& command,
                 const std::vector<std::string>& arguments, const HumanPrinter& human)
{
    return printReply(context, context.client.call(service, command, arguments), service + " " + command, human);
}

} // namespace hil::cli
