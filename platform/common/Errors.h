// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <stdexcept>
#include <string>

#include "platform/common/ErrorCode.h"

namespace hil {

/// The root of the failures that are our own (drivers, the pack manager, the CLI): each kind
/// carries the `ErrorCode` a status reports it with, so that one boundary (a driver's
/// `reportFailure`, the CLI's verb guard) turns any of them into a status or an exit code. The
/// specified services keep the errors their protocol gives them; this tree is not for them.
class HilError : public std::runtime_error {
public:
    ErrorCode code() const noexcept { return code_; }

protected:
    HilError(ErrorCode code, const std::string& message) : std::runtime_error(message), code_(code) {}

private:
    ErrorCode code_;
};

/// What was asked cannot be done as asked: a wrong parameter, an unknown operation, an operation
/// the tool does not have.
class UsageError : public HilError {
public:
    explicit UsageError(const std::string& message) : HilError(ErrorCode::InvalidArguments, message) {}
};

/// What was named is not there: a device description, a file, a program to run.
class NotFoundError : public HilError {
public:
    explicit NotFoundError(const std::string& message) : HilError(ErrorCode::NotFound, message) {}
};

/// The operation needs another state: a connected tool, a halted target.
class StateError : public HilError {
public:
    /// `code` is `ErrorCode::NotConnected` or `ErrorCode::TargetRunning`.
    StateError(ErrorCode code, const std::string& message) : HilError(code, message) {}
};

/// The target, or the server in front of it, refused or failed what it was asked.
class TargetError : public HilError {
public:
    explicit TargetError(const std::string& message) : HilError(ErrorCode::TargetRefused, message) {}

protected:
    TargetError(ErrorCode code, const std::string& message) : HilError(code, message) {}
};

/// The connection to the target is gone (or never came up): nothing more reaches it.
class TargetLostError : public TargetError {
public:
    explicit TargetLostError(const std::string& message) : TargetError(ErrorCode::TargetLost, message) {}
};

/// A file on this machine cannot be opened, read or written.
class FileAccessError : public HilError {
public:
    explicit FileAccessError(const std::string& message) : HilError(ErrorCode::FileAccess, message) {}
};

/// A file given to read is not what it claims to be: a program that is no ELF for the target, a
/// description or pack that cannot be read.
class SourceFileError : public HilError {
public:
    explicit SourceFileError(const std::string& message) : HilError(ErrorCode::BadSourceFile, message) {}
};

} // namespace hil
