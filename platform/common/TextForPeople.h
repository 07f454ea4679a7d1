// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace hil {

/// The columns `text` takes on a terminal: UTF-8 continuation bytes take none.
std::size_t displayWidth(const std::string& text);

/// `rows` as lines of aligned columns: each column as wide as its longest value and two blanks,
/// and at least `minimumWidths` (one a column but the last, which is not padded).
std::string alignedRows(const std::vector<std::vector<std::string>>& rows, std::vector<std::size_t> minimumWidths);

/// How many one-letter edits make `from` into `to`, in any letter case.
std::size_t editDistance(const std::string& from, const std::string& to);

/// The names of `known` that `typed` may have meant, closest first, at most `most`: a slip of a
/// few letters (2, or a quarter of its length), or a name that holds it or that it holds, in any
/// case; a name equal to it in any case is the only one.
std::vector<std::string> closestNames(const std::string& typed, const std::vector<std::string>& known,
                                      std::size_t most = 3);

/// "; did you mean A, B?" for the closest names of `known`, else `otherwise`.
std::string didYouMean(const std::string& typed, const std::vector<std::string>& known, const std::string& otherwise);

} // namespace hil
