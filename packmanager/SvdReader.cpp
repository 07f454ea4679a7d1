// SPDX-License-Identifier: Apache-2.0
#include "packmanager/SvdReader.h"

#include <algorithm>
#include <fstream>

#include "packmanager/PackXml.h"
#include "packmanager/SvdResolver.h"
#include "platform/common/TextNumbers.h"

namespace hil::packs {

namespace fs = std::filesystem;

namespace {

/// Reads one number in the given base, all of `digits`; throws on anything else.
std::uint64_t parseDigits(const std::string& digits, int base, const std::string& whole)
{
    if (const auto value = hil::parseDigits(digits, base))
        return *value;
    throw std::invalid_argument("\"" + whole + "\" is not a number");
}

/// Whether `text` starts with "0" and the letter `letter` in either case.
bool hasRadixPrefix(const std::string& text, char letter)
{
    return text.size() >= 2 && text[0] == '0' && (text[1] == letter || text[1] == letter - 'a' + 'A');
}

} // namespace

std::uint64_t parseSvdNumber(const std::string& input)
{
    std::string text = trimmedText(input);
    if (!text.empty() && text.front() == '+')
        text.erase(0, 1);
    if (hasRadixPrefix(text, 'x'))
        return parseDigits(text.substr(2), 16, input);
    if (const std::size_t prefix = svdBinaryPrefix(text))
        return parseDigits(text.substr(prefix), 2, input);
    return parseDigits(text, 10, input);
}

std::size_t svdBinaryPrefix(const std::string& text)
{
    return hasRadixPrefix(text, 'b') ? 2 : !text.empty() && text.front() == '#' ? 1 : 0;
}

SvdDevice SvdReader::readFile(const fs::path& file)
{
    return readText(readPackFile(file, kMaxFileBytes), file.string());
}

SvdDevice SvdReader::readText(const std::string& text, const std::string& sourceName)
{
    if (text.size() > kMaxFileBytes)
        throw PackSourceError(sourceName + ": " + std::to_string(text.size() >> 20) + " MiB is over the " +
                              std::to_string(kMaxFileBytes >> 20) + " MiB this file may have");
    const auto document = parsePackXml(text, sourceName, "device");
    return resolveSvdDevice(document->documentElement(), sourceName);
}

SvdReader::Head SvdReader::peekHead(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return peekHead(in);
}

SvdReader::Head SvdReader::peekHead(std::istream& in)
{
    std::string head(64 * 1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    // The device's own elements come before its first peripheral; a <name> after that is another's.
    const auto device = head.find("<device");
    if (device == std::string::npos)
        return {};
    const auto peripherals = head.find("<peripherals", device);
    // The element `tag` between `from` and `until`.
    const auto element = [&](const std::string& tag, std::size_t from, std::size_t until) {
        const auto open = head.find("<" + tag + ">", from);
        const auto close = head.find("</" + tag + ">", open);
        if (open == std::string::npos || close == std::string::npos || open > until)
            return std::string();
        return trimmedText(std::string_view(head).substr(open + tag.size() + 2, close - open - tag.size() - 2));
    };
    const auto cpu = head.find("<cpu>", device);
    const auto cpuEnd = std::min(head.find("</cpu>", cpu), peripherals);
    return {element("name", device, peripherals), element("vendor", device, peripherals),
            cpu == std::string::npos ? "" : element("name", cpu, cpuEnd)};
}

} // namespace hil::packs
