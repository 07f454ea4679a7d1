// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace hil::bench {

/// Seconds gdb-multiarch takes for `command` against the GDB stub on `port`, between two time
/// stamps it takes itself (its start and its connection are not counted).
inline double timeGdb(std::uint16_t port, const std::string& command)
{
    const std::string script = "gdb-multiarch -batch -nx -ex 'target remote 127.0.0.1:" + std::to_string(port) +
                               "' -ex 'shell date +%s.%N' -ex '" + command +
                               "' -ex 'shell date +%s.%N' -ex 'disconnect' 2>/dev/null | grep -E '^[0-9]+\\.[0-9]+$'";
    FILE* output = ::popen(script.c_str(), "r");
    double stamps[2] = {0, 0};
    int found = 0;
    char line[128];
    while (output && std::fgets(line, sizeof line, output))
        if (found < 2)
            stamps[found++] = std::strtod(line, nullptr);
    if (output)
        ::pclose(output);
    if (found != 2)
        throw std::runtime_error("gdb-multiarch did not run: " + command);
    return stamps[1] - stamps[0];
}

} // namespace hil::bench
