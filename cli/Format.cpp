// SPDX-License-Identifier: Apache-2.0
// Turning values into text and text into values: numbers, bytes, JSON, error reports.

#include <charconv>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <regex>
#include <sstream>

#include <boost/json.hpp>

#include "cli/CliCommands.h"
#include "platform/common/Base64.h"
#include "platform/common/ErrorCode.h"
#include "platform/common/FormatString.h"
#include "platform/common/TextNumbers.h"

namespace hil::cli {

boost::json::value parseOrNull(const std::string& text)
{
    boost::system::error_code error;
    auto value = boost::json::parse(text, error);
    return error ? boost::json::value() : value;
}

namespace {

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
    } else if (value.is_double()) {
        // The shortest text that reads back as the same number: 3.3, not 3.3E0.
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, value.get_double()).ptr;
        out.append(digits, end);
    } else {
        out += boost::json::serialize(value);
    }
}

} // namespace

std::string textOf(const boost::json::value& value)
{
    return value.is_string() ? std::string(value.get_string()) : boost::json::serialize(value);
}

std::string hexText(std::uint64_t number, int digits)
{
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << std::setw(digits) << std::setfill('0') << number;
    return out.str();
}

std::string padded(std::string text, std::size_t width, Align align)
{
    if (text.size() >= width)
        return text;
    const std::string blanks(width - text.size(), ' ');
    return align == Align::Left ? text + blanks : blanks + text;
}

std::uint64_t numberOf(const boost::json::value& value)
{
    boost::system::error_code error;
    const auto result = value.to_number<std::uint64_t>(error);
    return error ? 0 : result;
}

std::uint64_t numberOfBytes(const std::vector<std::uint8_t>& bytes, bool bigEndian)
{
    const std::size_t count = std::min<std::size_t>(bytes.size(), 8);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = (value << 8) | (bigEndian ? bytes[i] : bytes[count - 1 - i]);
    return value;
}

std::vector<std::uint8_t> bytesOf(const boost::json::value& base64)
{
    std::vector<std::uint8_t> bytes;
    if (base64.is_string())
        base64_decode(base64.get_string(), bytes);
    return bytes;
}

std::string hexOf(const std::vector<std::uint8_t>& bytes)
{
    std::ostringstream out;
    for (const auto byte : bytes)
        out << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(byte);
    return out.str();
}

std::vector<std::uint8_t> bytesOfHex(const std::string& hex, const std::string& verb)
{
    if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw UsageError(verb + " needs an even number of hex digits, such as 01ff");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::uint64_t numberArgument(const std::string& text, const std::string& verb, const std::string& what)
{
    if (const auto value = parseUnsigned(text))
        return *value;
    throw UsageError(verb + " needs " + what + " as a number, such as 256 or 0x100, not '" + text + "'");
}

std::string clockTime(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(milliseconds));
    return text;
}

std::string prettyJson(const boost::json::value& value)
{
    std::string out;
    appendPretty(value, 0, out);
    return out;
}

std::string errorReportMessage(const boost::json::value& value, const std::string& what)
{
    if (!value.is_object())
        return {};
    const auto& report = value.get_object();
    const auto* code = report.if_contains("Code");
    if (!code || !code->is_int64())
        return {};
    std::string message;
    const auto number = code->get_int64();
    if (const auto* format = report.if_contains("Format"); format && format->is_string())
        message = std::string(format->get_string());
    else if (number == static_cast<std::int64_t>(ErrorCode::InvalidArguments))
        message = (what.empty() ? "the command" : what) +
                  " was refused: the back-end has no such command, or an argument is missing, extra or of the wrong "
                  "kind (docs/protocol.md says what each command takes)";
    else
        message = "error";
    // Codes of the common library are large and read best in hex, as its headers write them.
    message += " (code " + (number > 0xFFFF ? FormatString("0x%llX", static_cast<long long>(number)) : std::to_string(number));
    if (const auto* service = report.if_contains("Service"); service && service->is_string())
        message += ", service " + std::string(service->get_string());
    message += ")";
    // An id such as "simulator-3" names a tool a client set up; it went with that client.
    static const std::regex kGoneTool("Invalid context [a-z]+-[0-9]+[.,].*");
    if (number == static_cast<std::int64_t>(ErrorCode::InvalidContext) && std::regex_match(message, kGoneTool))
        message += "; tools live as long as the client that set them up; use `target add` to keep one";
    return message;
}

} // namespace hil::cli
