// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include <Poco/AutoPtr.h>
#include <Poco/DOM/Document.h>

namespace hil::xml {

/// A text that is not XML this system reads; the message names its source.
class XmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Parses XML that came from outside (a pack, an SVD file, a GDB server's target description),
/// trusting nothing in it: an entity declaration is refused, since entities could expand
/// without bound; nothing a DOCTYPE names is ever fetched (the declaration itself is read past);
/// namespaces are off and text of white space alone is dropped. Throws `XmlError`, its message
/// starting with `source`.
Poco::AutoPtr<Poco::XML::Document> parseUntrusted(std::string_view text, const std::string& source);

} // namespace hil::xml
