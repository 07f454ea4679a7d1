// SPDX-License-Identifier: Apache-2.0
// What `hilcore-cli load` reads from a user's file, into the image reader: an ELF file (through
// libelf) or an Intel HEX file. Each reads or throws one of our own errors (`ImageError`, or
// `UsageError` for a file of no known format without an address), and never crashes.

#include <cstdint>
#include <vector>

#include "cli/FirmwareImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const auto image = hil::cli::parseFirmwareImage(std::vector<std::uint8_t>(data, data + size), "fuzz", std::nullopt);
        // Joined pieces never overlap and stay in address order.
        for (std::size_t i = 1; i < image.segments.size(); ++i)
            if (image.segments[i].address < image.segments[i - 1].address + image.segments[i - 1].bytes.size())
                __builtin_trap();
    } catch (const hil::HilError&) {
        // A clear refusal is the expected answer to most inputs.
    }
    return 0;
}
