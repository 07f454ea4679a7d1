// SPDX-License-Identifier: Apache-2.0
// Arbitrary text into the strict Base64 decoder; what it accepts must encode back to itself.

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/common/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> bytes;
    if (hil::base64_decode(text, bytes) && hil::base64_encode(bytes) != text)
        std::abort();
    // And any bytes encode to text that decodes back to them.
    std::vector<std::uint8_t> back;
    const std::vector<std::uint8_t> input(data, data + size);
    if (!hil::base64_decode(hil::base64_encode(input), back) || back != input)
        std::abort();
    return 0;
}
