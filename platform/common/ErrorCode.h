// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

namespace hil {

/// The error codes the core reports. The small values are the TCF protocol's own error codes, so
/// that a standard TCF client recognises them; the 0x2000x values belong to this system.
enum class ErrorCode : std::int32_t {
    Ok = 0,
    /// A device file or XML read failed, a device is unknown, or a session could not be ended.
    ReadFailure = 1,
    /// Wrong argument count or argument kind.
    InvalidArguments = 3,
    /// A byte range or size that the target cannot take.
    InvalidDataSize = 15,
    /// Context lookup failed: a service without contexts, an empty id, or an unknown id.
    InvalidContext = 16,
    /// A factory manager is missing, or a property has the wrong JSON type.
    BadConfiguration = 0x2001F,
    /// A factory or connection could not be created, or a property or device file is missing.
    NotFound = 0x20022,
    /// The device model was used in a way it does not support.
    ModelMisuse = 0x20025,
    /// Resolving a device failed for a reason nobody reported.
    UnknownDeviceError = 0x2002F,
    /// A required object is missing.
    RequiredObjectMissing = 0x20030,

    // What the drivers, the pack manager and the CLI report of their own (see Errors.h).
    /// The target is running and the operation needs it halted (TCF's IS_RUNNING).
    TargetRunning = 14,
    /// The tool has no target to act on: it is not connected (TCF's NOT_ACTIVE).
    NotConnected = 20,
    /// The target, or the server in front of it, refused or failed what it was asked.
    TargetRefused = 0x20040,
    /// The connection to the target is gone.
    TargetLost = 0x20041,
    /// A file given to read (a program, a description, a pack) is not what it claims to be.
    BadSourceFile = 0x20042,
    /// A file on this machine cannot be read or written.
    FileAccess = 0x20043,
};

/// The numeric value of a code, as it travels on the wire.
constexpr std::int32_t toInt(ErrorCode code) { return static_cast<std::int32_t>(code); }

} // namespace hil
