// SPDX-License-Identifier: Apache-2.0
#include "bundles/common/FailureReport.h"

#include "platform/common/CoreException.h"
#include "platform/common/Errors.h"

namespace hil::bundles {

bool reportFailure(Status& status, const std::string& context, const std::function<void()>& operation)
{
    const auto fail = [&](ErrorCode code, const std::string& text) {
        status.setError(code, "%s", context.empty() ? text.c_str() : (context + ": " + text).c_str());
        return false;
    };
    try {
        operation();
        return true;
    } catch (const HilError& error) {
        return fail(error.code(), error.what());
    } catch (const CoreException& error) {
        // A core service's own failure, such as the Device service's for an unknown device.
        return fail(error.getStatus()->getErrorCode(), error.getStatus()->getMessage());
    } catch (const std::exception& error) {
        return fail(ErrorCode::TargetRefused, error.what());
    }
}

} // namespace hil::bundles
