// SPDX-License-Identifier: Apache-2.0
#include "packmanager/PackXml.h"

#include <charconv>
#include <fstream>

#include <Poco/DOM/Element.h>

#include "packmanager/SvdReader.h"
#include "platform/xml/UntrustedXml.h"

namespace hil::packs {

Poco::AutoPtr<Poco::XML::Document> parsePackXml(const std::string& text, const std::string& source, const std::string& root)
{
    Poco::AutoPtr<Poco::XML::Document> document;
    try {
        document = xml::parseUntrusted(text, source);
    } catch (const xml::XmlError& error) {
        throw PackSourceError(error.what());
    }
    const auto* element = document->documentElement();
    if (!element || element->nodeName() != root)
        throw PackSourceError(source + ": its root element is not <" + root + ">");
    return document;
}

std::string hexText(std::uint64_t value)
{
    char digits[16];
    const char* end = std::to_chars(std::begin(digits), std::end(digits), value, 16).ptr;
    std::string text = "0x";
    for (const char* digit = digits; digit != end; ++digit)
        text += *digit >= 'a' ? static_cast<char>(*digit - 'a' + 'A') : *digit;
    return text;
}

std::string readPackFile(const std::filesystem::path& file, std::uintmax_t limit)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error)
        throw PackSourceError(file.string() + ": cannot be read: " + error.message());
    if (size > limit)
        throw PackSourceError(file.string() + ": " + std::to_string(size >> 20) + " MiB is over the " +
                              std::to_string(limit >> 20) + " MiB this file may have");
    std::ifstream in(file, std::ios::binary);
    std::string text(size, '\0');
    if (!in.read(text.data(), static_cast<std::streamsize>(size)))
        throw PackSourceError(file.string() + ": cannot be read");
    return text;
}

} // namespace hil::packs
