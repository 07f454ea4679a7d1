// SPDX-License-Identifier: Apache-2.0
#include "platform/xml/UntrustedXml.h"

#include <Poco/DOM/DOMParser.h>
#include <Poco/Exception.h>
#include <Poco/SAX/XMLReader.h>

namespace hil::xml {

Poco::AutoPtr<Poco::XML::Document> parseUntrusted(std::string_view text, const std::string& source)
{
    if (text.find("<!ENTITY") != std::string_view::npos)
        throw XmlError(source + ": declares entities, which are not accepted");
    Poco::XML::DOMParser parser;
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, false);
    parser.setFeature(Poco::XML::DOMParser::FEATURE_FILTER_WHITESPACE, true);
    parser.setFeature(Poco::XML::XMLReader::FEATURE_EXTERNAL_GENERAL_ENTITIES, false);
    parser.setFeature(Poco::XML::XMLReader::FEATURE_EXTERNAL_PARAMETER_ENTITIES, false);
    try {
        return parser.parseMemory(text.data(), text.size());
    } catch (const Poco::Exception& error) {
        throw XmlError(source + ": not XML: " + error.displayText());
    }
}

} // namespace hil::xml
