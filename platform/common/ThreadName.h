// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <thread>

namespace hil {

/// Names a thread for debuggers and `top -H`. The name is cut to the 15 characters the kernel
/// keeps; a failure is ignored, since a name is only a help.
void setThreadName(std::thread::native_handle_type thread, const std::string& name);

/// Names the calling thread.
void setCurrentThreadName(const std::string& name);

} // namespace hil
