// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace hil::tcf {

/// A copyable handle of one pending command: the token text the client chose, which its reply
/// must carry back.
class Token {
public:
    Token() = default;
    explicit Token(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }
    bool operator==(const Token&) const = default;

private:
    std::string text_;
};

} // namespace hil::tcf
