// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "platform/common/IStatus.h"

namespace hil {

/// The one implementation of `IStatus`. A default-constructed status means success.
///
/// Rendering: `toJson` of an error gives the TCF error report object with "Code" (the error
/// code), "Service" (when a service name was set), "Format" (the message) and "AltOrg" (the
/// component, when not empty). "Time" and "Severity" are left out: the severity of the core's
/// errors is always `Error`, which a TCF report expresses by leaving "Severity" out, and a time
/// stamp would make equal errors render differently.
class Status : public IStatus {
public:
    Status() = default;
    /// An error built from a printf-style format.
    Status(int severity, std::string component, ErrorCode code, const char* format, ...)
        __attribute__((format(printf, 5, 6)));

    std::string getComponent() const override { return component_; }
    int getSeverity() const override { return severity_; }
    ErrorCode getErrorCode() const override { return code_; }
    std::string getMessage() const override { return message_; }
    std::shared_ptr<IStatus> getChild() const override { return child_; }
    void setChild(std::shared_ptr<IStatus> child) override { child_ = std::move(child); }
    bool isOk() const override { return severity_ == Severity::Ok; }
    bool matchesSeverity(int severityMask) const override { return (severity_ & severityMask) != 0; }
    std::string toJson() const override;
    bool isOk(bool warningsAreOk) const override;
    void reset() override;

    /// Fills this status in place; the component stays.
    void setFields(int severity, ErrorCode code, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    /// Fills this status in place as an `Error`; the component stays.
    void setError(ErrorCode code, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void setServiceName(std::string name) { serviceName_ = std::move(name); }
    const std::string& getServiceName() const { return serviceName_; }

private:
    int severity_ = Severity::Ok;
    std::string component_;
    ErrorCode code_ = ErrorCode::Ok;
    std::string message_;
    std::string serviceName_;
    std::shared_ptr<IStatus> child_;
};

} // namespace hil
