// SPDX-License-Identifier: Apache-2.0
#include "platform/common/ThreadName.h"

#include <pthread.h>

namespace hil {

void setThreadName(std::thread::native_handle_type thread, const std::string& name)
{
    constexpr std::size_t kKernelNameLimit = 15;
    pthread_setname_np(thread, name.substr(0, kKernelNameLimit).c_str());
}

void setCurrentThreadName(const std::string& name) { setThreadName(pthread_self(), name); }

} // namespace hil
