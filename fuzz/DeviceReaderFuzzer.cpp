// SPDX-License-Identifier: Apache-2.0
// Arbitrary text into the device description reader: it reads a device or throws its read
// error, in bounded time, and never crashes.

#include <cstdint>
#include <string>

#include "core/devicedescription/OrixToolsDeviceFileReader.h"
#include "platform/common/CoreException.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    hil::Status status;
    try {
        const auto device = hil::OrixToolsDeviceFileReader::parseText(status, text, "FUZZ");
        // Walk what was read, as the Device server does.
        for (const auto& module : device->getModules())
            for (const auto& group : module->getRegisterGroups())
                for (const auto& reg : group->getRegisters())
                    (void)reg->getAddress();
    } catch (const hil::CoreException&) {
        // A read error, or a model misuse the reader reports for what the text describes.
    }
    return 0;
}
