// SPDX-License-Identifier: Apache-2.0
// What a pack folder may hold, into the pack manager's readers: an SVD file (read, then written
// as a description file and read back as a peripheral view), a pack description, and a
// description file. Each reads or throws `PackSourceError`, in bounded time and memory, and
// never crashes.

#include <cstdint>
#include <string>

#include "packmanager/DescriptionView.h"
#include "packmanager/DescriptionWriter.h"
#include "packmanager/PdscReader.h"
#include "packmanager/SvdReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    using namespace hil::packs;
    try {
        std::vector<std::string> faults;
        switch (data[0] % 3) {
        case 0: {
            const auto device = SvdReader::readText(text, "fuzz.svd");
            // What the writer makes from any device the reader accepts must read back.
            DescriptionView::readText(DescriptionWriter::write(device, nullptr, "fuzz.svd"), "fuzz.tdesc", &faults);
            break;
        }
        case 1:
            (void)PdscReader::read(text, "fuzz.pdsc");
            break;
        default:
            (void)DescriptionView::readText(text, "fuzz.tdesc", &faults);
        }
    } catch (const PackSourceError&) {
        // A clear refusal is the expected answer to most inputs.
    }
    return 0;
}
