// SPDX-License-Identifier: Apache-2.0
#include "packmanager/PackXml.h"

#include <fstream>

#include <Poco/DOM/DOMParser.h>
#include <Poco/Exception.h>
#include <Poco/SAX/XMLReader.h>

#include "packmanager/SvdReader.h"

namespace hil::packs {

Poco::AutoPtr<Poco::XML::Document> parsePackXml(const std::string& text, const std::string& source, const std::string& root)
{
    if (text.find("<!ENTITY") != std::string::npos)
        throw PackSourceError(source + ": declares entities, which this format does not use");
    Poco::XML::DOMParser parser;
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, false);
    parser.setFeature(Poco::XML::DOMParser::FEATURE_FILTER_WHITESPACE, true);
    parser.setFeature(Poco::XML::XMLReader::FEATURE_EXTERNAL_GENERAL_ENTITIES, false);
    parser.setFeature(Poco::XML::XMLReader::FEATURE_EXTERNAL_PARAMETER_ENTITIES, false);
    Poco::AutoPtr<Poco::XML::Document> document;
    try {
        document = parser.parseMemory(text.data(), text.size());
    } catch (const Poco::Exception& error) {
        throw PackSourceError(source + ": not XML: " + error.displayText());
    }
    const auto* element = document->documentElement();
    if (!element || element->nodeName() != root)
        throw PackSourceError(source + ": its root element is not <" + root + ">");
    return document;
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
