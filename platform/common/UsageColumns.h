// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <string>

namespace hil {

/// A line for each entry of `table` (a map from a name to an entry with a `help` text): two
/// spaces, the name and what `argumentsOf` (entry) says it takes, padded to `column`, then
/// the help. What a program's --help lists its options or verbs with.
template <class Table, class ArgumentsOf>
std::string usageColumns(const Table& table, std::size_t column, const ArgumentsOf& argumentsOf)
{
    std::string text;
    for (const auto& [name, entry] : table) {
        const std::string arguments = argumentsOf(entry);
        std::string left = "  " + name + (arguments.empty() ? "" : " " + arguments);
        left.resize(std::max(left.size() + 2, column), ' ');
        text += left + entry.help + "\n";
    }
    return text;
}

} // namespace hil
