// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace hil {

/// `text` with every byte sequence that is not well-formed UTF-8 replaced by U+FFFD, one
/// replacement for each maximal ill-formed part (as Unicode recommends); well-formed text comes
/// back unchanged. For texts a client sent that are echoed into replies, which must be UTF-8.
std::string validUtf8(std::string_view text);

} // namespace hil
