// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "platform/common/ErrorCode.h"

namespace hil {

/// Severities, as the bits of an Eclipse-style status. The core always reports `Error`.
namespace Severity {
constexpr int Ok = 0;
constexpr int Info = 1;
constexpr int Warning = 2;
constexpr int Error = 4;
constexpr int Cancel = 8;
} // namespace Severity

/// A status: success, or an error with a component, a code and a message. The operations keep
/// the order in which other bundles' vtables expect them.
class IStatus {
public:
    virtual std::string getComponent() const = 0;
    virtual int getSeverity() const = 0;
    virtual ErrorCode getErrorCode() const = 0;
    /// The formatted message; the empty text on success.
    virtual std::string getMessage() const = 0;
    /// A status that caused this one, or null.
    virtual std::shared_ptr<IStatus> getChild() const = 0;
    virtual void setChild(std::shared_ptr<IStatus> child) = 0;
    /// True when the severity is `Ok`.
    virtual bool isOk() const = 0;
    /// True when any bit of `severityMask` is set in this status's severity.
    virtual bool matchesSeverity(int severityMask) const = 0;
    /// The reply text: empty on success, else the TCF error report object.
    virtual std::string toJson() const = 0;
    virtual ~IStatus() = default;
    /// True when the status is `Ok`, or when `warningsAreOk` and the severity is below `Error`.
    virtual bool isOk(bool warningsAreOk) const = 0;
    /// Back to success: severity `Ok`, no code, no message, no child.
    virtual void reset() = 0;
};

} // namespace hil
