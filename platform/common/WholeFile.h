// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>
#include <string>

namespace hil {

/// Writes `text` as the whole of `target`, making its folder, through a file of this writer's own
/// renamed over it: a reader sees the old file or the new one whole, and two processes or threads
/// writing the same file do not mix their bytes (the later rename wins). Throws `FileAccessError`
/// when it cannot be written.
void writeWholeFile(const std::filesystem::path& target, const std::string& text);

} // namespace hil
