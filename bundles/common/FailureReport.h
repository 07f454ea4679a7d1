// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>

#include "platform/common/Status.h"

namespace hil::bundles {

/// The drivers' one error boundary. Runs `operation`; a failure becomes `status`: one of our own
/// errors (`HilError`) and a core service's `CoreException` keep their code, any other exception
/// is reported as the target refusing (`ErrorCode::TargetRefused`). The text is `context`, ": "
/// and the failure's own text, or that text alone when `context` is empty. Returns whether
/// `operation` succeeded.
bool reportFailure(Status& status, const std::string& context, const std::function<void()>& operation);

} // namespace hil::bundles
