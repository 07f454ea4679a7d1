// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hil::gdbremote {

/// Cuts a stream of text into lines: "\n" ends one, "\r" is dropped, a line longer than
/// `maxLine` characters is cut there (a target printing without newlines still gets heard).
class LineAssembler {
public:
    explicit LineAssembler(std::size_t maxLine = 4096) : maxLine_(maxLine) {}

    /// The lines `text` completes.
    std::vector<std::string> feed(std::string_view text)
    {
        std::vector<std::string> lines;
        for (char c : text) {
            if (c == '\n' || partial_.size() >= maxLine_) {
                lines.push_back(std::move(partial_));
                partial_.clear();
            }
            if (c != '\n' && c != '\r')
                partial_ += c;
        }
        return lines;
    }
    /// What is left of an unfinished line, emptied.
    std::string rest() { return std::exchange(partial_, std::string()); }

private:
    const std::size_t maxLine_;
    std::string partial_;
};

} // namespace hil::gdbremote
