// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include <Poco/AutoPtr.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>

namespace hil::packs {

/// Parses the text of an SVD file, a pack description or a description file: no namespaces, no
/// whitespace nodes, no external entities, and no entity declarations at all (they let a small
/// file expand without bound, and none of these formats uses them). The document element must
/// be `root`. Throws `PackSourceError` naming `source`.
Poco::AutoPtr<Poco::XML::Document> parsePackXml(const std::string& text, const std::string& source, const std::string& root);

/// `text` without the blanks (space, tab, CR, LF) around it. The locale-aware trims cost a
/// locale lookup a call, which shows on a file of a hundred thousand elements.
inline std::string trimmedText(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

/// `text` with A-Z as a-z. The names and keywords of these formats are ASCII: folding them needs
/// no locale, and a locale lookup a call shows on a file of a hundred thousand elements.
inline std::string asciiLower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

/// "0x1F": how these files write an address, a mask or a value.
std::string hexText(std::uint64_t value);

/// The whole file; throws `PackSourceError` when it cannot be read or is over `limit` bytes.
std::string readPackFile(const std::filesystem::path& file, std::uintmax_t limit);

/// Calls `visit` for each element child of `parent` (none for a null parent), or only for those
/// named `name` when it is not null.
template <class Visit>
void forEachChildElement(const Poco::XML::Element* parent, const char* name, const Visit& visit)
{
    for (Poco::XML::Node* node = parent ? parent->firstChild() : nullptr; node; node = node->nextSibling())
        if (node->nodeType() == Poco::XML::Node::ELEMENT_NODE && (!name || node->nodeName() == name))
            visit(static_cast<const Poco::XML::Element*>(node));
}

} // namespace hil::packs
