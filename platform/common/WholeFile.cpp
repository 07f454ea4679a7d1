// SPDX-License-Identifier: Apache-2.0
#include "platform/common/WholeFile.h"

#include <atomic>
#include <fstream>

#include <unistd.h>

#include "platform/common/Errors.h"

namespace hil {

void writeWholeFile(const std::filesystem::path& target, const std::string& text)
{
    static std::atomic<unsigned> writers{0};
    const std::filesystem::path partial =
        target.string() + ".partial." + std::to_string(::getpid()) + "." + std::to_string(writers++);
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            std::filesystem::remove(partial, error);
            throw FileAccessError("cannot write " + partial.string());
        }
    }
    std::filesystem::rename(partial, target, error);
    if (error) {
        std::filesystem::remove(partial, error);
        throw FileAccessError("cannot write " + target.string() + ": " + error.message());
    }
}

} // namespace hil
