// SPDX-License-Identifier: Apache-2.0
#include "platform/common/TextForPeople.h"

#include <algorithm>
#include <utility>

#include <boost/algorithm/string.hpp>

namespace hil {

std::size_t displayWidth(const std::string& text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string alignedRows(const std::vector<std::vector<std::string>>& rows, std::vector<std::size_t> minimumWidths)
{
    auto& widths = minimumWidths;
    for (const auto& row : rows)
        for (std::size_t i = 0; i + 1 < row.size(); ++i) {
            if (widths.size() <= i)
                widths.push_back(0);
            widths[i] = std::max(widths[i], displayWidth(row[i]) + 2);
        }
    std::string text;
    for (const auto& row : rows) {
        for (std::size_t i = 0; i + 1 < row.size(); ++i)
            text += row[i] + std::string(widths[i] - displayWidth(row[i]), ' ');
        text += (row.empty() ? "" : row.back()) + "\n";
    }
    return text;
}

std::size_t editDistance(const std::string& anyCaseFrom, const std::string& anyCaseTo)
{
    const std::string from = boost::algorithm::to_lower_copy(anyCaseFrom);
    const std::string to = boost::algorithm::to_lower_copy(anyCaseTo);
    std::vector<std::size_t> row(to.size() + 1);
    for (std::size_t j = 0; j <= to.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= from.size(); ++i) {
        std::size_t diagonal = row[0]++;
        for (std::size_t j = 1; j <= to.size(); ++j) {
            const std::size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (from[i - 1] != to[j - 1])});
            diagonal = row[j];
            row[j] = next;
        }
    }
    return row[to.size()];
}

std::vector<std::string> closestNames(const std::string& typed, const std::vector<std::string>& known, std::size_t most)
{
    std::vector<std::pair<std::size_t, std::string>> close;
    for (const auto& candidate : known) {
        if (boost::algorithm::iequals(candidate, typed))
            return {candidate};
        const std::size_t distance = editDistance(typed, candidate);
        if (distance <= std::max<std::size_t>(2, typed.size() / 4) ||
            (typed.size() >= 2 &&
             (boost::algorithm::icontains(candidate, typed) || boost::algorithm::icontains(typed, candidate))))
            close.emplace_back(distance, candidate);
    }
    std::sort(close.begin(), close.end());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < close.size() && i < most; ++i)
        names.push_back(close[i].second);
    return names;
}

std::string didYouMean(const std::string& typed, const std::vector<std::string>& known, const std::string& otherwise)
{
    const auto names = closestNames(typed, known);
    if (names.empty())
        return otherwise;
    return "; did you mean " + boost::algorithm::join(names, ", ") + "?";
}

} // namespace hil
