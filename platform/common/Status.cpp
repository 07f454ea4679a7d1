// SPDX-License-Identifier: Apache-2.0
#include "platform/common/Status.h"

#include "platform/common/ErrorReport.h"
#include "platform/common/FormatString.h"

namespace hil {

Status::Status(int severity, std::string component, ErrorCode code, const char* format, ...)
    : severity_(severity), component_(std::move(component)), code_(code)
{
    va_list args;
    va_start(args, format);
    message_ = vFormatString(format, args);
    va_end(args);
}

void Status::setFields(int severity, ErrorCode code, const char* format, ...)
{
    severity_ = severity;
    code_ = code;
    va_list args;
    va_start(args, format);
    message_ = vFormatString(format, args);
    va_end(args);
}

void Status::setError(ErrorCode code, const char* format, ...)
{
    severity_ = Severity::Error;
    code_ = code;
    va_list args;
    va_start(args, format);
    message_ = vFormatString(format, args);
    va_end(args);
}

bool Status::isOk(bool warningsAreOk) const
{
    return warningsAreOk ? severity_ < Severity::Error : isOk();
}

void Status::reset()
{
    severity_ = Severity::Ok;
    code_ = ErrorCode::Ok;
    message_.clear();
    child_.reset();
}

std::string Status::toJson() const
{
    if (isOk())
        return {};
    ErrorReport report;
    // An error status always renders as an error, even when someone forgot its code.
    report.code = code_ == ErrorCode::Ok ? 1 : toInt(code_);
    report.service = serviceName_;
    report.format = message_;
    report.altOrg = component_;
    return report.toJson();
}

} // namespace hil
