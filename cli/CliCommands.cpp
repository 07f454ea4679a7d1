#include "cli/CliCommands.h"

#include <csignal>
#include <iostream>
#include <mutex>

#include <boost/json.hpp>

#include "platform/common/StopSignals.h"

namespace hil::cli {

namespace {

boost::json::value parseOrNull(const std::string& text)
{
    boost::system::error_code error;
    auto value = boost::json::parse(text, error);
    return error ? boost::json::value() : value;
}

void appendPretty(const boost::json::value& value, int indent, std::string& out)
{
    const std::string pad(static_cast<std::size_t>(indent) * 2, ' ');
    const std::string innerPad = pad + "  ";
    if (value.is_object() && !value.get_object().empty()) {
        out += "{\n";
        bool first = true;
        for (const auto& [key, member] : value.get_object()) {
            out += (first ? "" : ",\n") + innerPad + boost::json::serialize(boost::json::value(key)) + ": ";
            appendPretty(member, indent + 1, out);
            first = false;
        }
        out += "\n" + pad + "}";
    } else if (value.is_array() && !value.get_array().empty()) {
        out += "[\n";
        bool first = true;
        for (const auto& element : value.get_array()) {
            out += (first ? "" : ",\n") + innerPad;
            appendPretty(element, indent + 1, out);
            first = false;
        }
        out += "\n" + pad + "]";
    } else {
        out += boost::json::serialize(value);
    }
}

/// Prints a reply and says whether it carried an error.
int printReply(CliContext& context, const tcf::TcfClient::Reply& reply, const std::string& what)
{
    if (!reply.recognised) {
        context.err << "error: the back-end does not offer " << what << "\n";
        return ExitCode::ErrorReply;
    }
    int result = ExitCode::Ok;
    boost::json::array values;
    for (const auto& text : reply.values) {
        auto value = parseOrNull(text);
        const std::string message = errorReportMessage(value);
        if (!message.empty()) {
            context.err << "error: " << message << "\n";
            result = ExitCode::ErrorReply;
        }
        values.push_back(std::move(value));
    }
    if (context.json) {
        context.out << boost::json::serialize(values) << "\n";
        return result;
    }
    for (const auto& value : values)
        if (!value.is_null() && errorReportMessage(value).empty())
            context.out << prettyJson(value) << "\n";
    return result;
}

int servicesVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    if (!arguments.empty())
        throw UsageError("services takes no arguments");
    const auto& names = context.client.peerServices();
    if (context.json) {
        boost::json::array list;
        for (const auto& name : names)
            list.emplace_back(name);
        context.out << boost::json::serialize(list) << "\n";
    } else {
        for (const auto& name : names)
            context.out << name << "\n";
    }
    return ExitCode::Ok;
}

int callVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    if (arguments.size() < 2)
        throw UsageError("call needs SERVICE COMMAND");
    std::vector<std::string> jsonArguments(arguments.begin() + 2, arguments.end());
    for (const auto& argument : jsonArguments) {
        boost::system::error_code error;
        boost::json::parse(argument, error);
        if (error)
            throw UsageError("argument is not JSON: " + argument + " (a string needs quotes: '\"text\"')");
    }
    const auto reply = context.client.call(arguments[0], arguments[1], jsonArguments);
    return printReply(context, reply, arguments[0] + " " + arguments[1]);
}

int watchVerb(CliContext& context, const std::vector<std::string>& arguments)
{
    // Set up before the handler can run, so the reader thread never sees it half made.
    std::mutex printMutex;
    const std::vector<std::string> wanted = arguments;
    context.client.setEventHandler([&](const std::string& service, const std::string& name,
                                       const std::vector<std::string>& eventArguments) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), service) == wanted.end())
            return;
        std::lock_guard lock(printMutex);
        boost::json::array values;
        for (const auto& text : eventArguments)
            values.push_back(parseOrNull(text));
        if (context.json) {
            boost::json::object event{{"service", service}, {"event", name}, {"arguments", values}};
            context.out << boost::json::serialize(event) << std::endl;
            return;
        }
        context.out << service << " " << name;
        for (const auto& value : values)
            context.out << " " << boost::json::serialize(value);
        context.out << std::endl;
    });
    // Runs until Ctrl-C, SIGTERM, or the back-end going away.
    const sigset_t stopSignals = blockStopSignals();
    timespec tick{0, 200'000'000};
    while (sigtimedwait(&stopSignals, nullptr, &tick) < 0) {
        if (context.client.waitUntilClosed(std::chrono::milliseconds(0))) {
            context.err << "error: the back-end closed the connection\n";
            return ExitCode::Connection;
        }
    }
    return ExitCode::Ok;
}

} // namespace

const std::map<std::string, Verb>& verbTable()
{
    static const std::map<std::string, Verb> table{
        {"services", {"", "list the services the back-end offers", servicesVerb}},
        {"call", {"SERVICE COMMAND [JSON-ARG...]", "send one command and print its reply values", callVerb}},
        {"watch", {"[SERVICE...]", "print events as they arrive until Ctrl-C", watchVerb}},
    };
    return table;
}

std::string prettyJson(const boost::json::value& value)
{
    std::string out;
    appendPretty(value, 0, out);
    return out;
}

std::string errorReportMessage(const boost::json::value& value)
{
    if (!value.is_object())
        return {};
    const auto& report = value.get_object();
    const auto* code = report.if_contains("Code");
    if (!code || !code->is_int64())
        return {};
    std::string message;
    if (const auto* format = report.if_contains("Format"); format && format->is_string())
        message = std::string(format->get_string());
    else
        message = "error";
    message += " (code " + std::to_string(code->get_int64());
    if (const auto* service = report.if_contains("Service"); service && service->is_string())
        message += ", service " + std::string(service->get_string());
    return message + ")";
}

} // namespace hil::cli
