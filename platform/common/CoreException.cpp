// SPDX-License-Identifier: Apache-2.0
#include "platform/common/CoreException.h"

#include "platform/common/FormatString.h"
#include "platform/common/Status.h"

namespace hil {

CoreException::CoreException(std::shared_ptr<IStatus> status)
    : std::runtime_error(status ? status->getMessage() : std::string()), status_(std::move(status))
{
    if (!status_)
        status_ = std::make_shared<Status>();
}

void CoreException::createAndThrow(const std::string& component, ErrorCode code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = vFormatString(format, args);
    va_end(args);
    createAndThrow(component, code, message);
}

void CoreException::createAndThrow(const std::string& component, ErrorCode code, const std::string& message)
{
    throw CoreException(std::make_shared<Status>(Severity::Error, component, code, "%s", message.c_str()));
}

} // namespace hil
