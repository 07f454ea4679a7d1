// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "platform/common/IStatus.h"

namespace hil {

/// An exception that carries a status. `what` returns the status's message.
class CoreException : public std::runtime_error {
public:
    explicit CoreException(std::shared_ptr<IStatus> status);

    const std::shared_ptr<IStatus>& getStatus() const { return status_; }

    /// Builds an `Error` status from a printf-style format and throws it.
    [[noreturn]] static void createAndThrow(const std::string& component, ErrorCode code, const char* format,
                                            ...) __attribute__((format(printf, 3, 4)));
    /// Builds an `Error` status with a ready message and throws it.
    [[noreturn]] static void createAndThrow(const std::string& component, ErrorCode code,
                                            const std::string& message);

private:
    std::shared_ptr<IStatus> status_;
};

} // namespace hil
