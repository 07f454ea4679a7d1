// SPDX-License-Identifier: Apache-2.0
#include "core/frame/ErrorDescr.h"

#include "platform/common/ErrorReport.h"

namespace hil {

ErrorDescr::ErrorDescr(int code, std::string service, std::string format)
    : format(std::move(format)), code(code), service(std::move(service)), json_(render())
{
}

const std::string& ErrorDescr::toJson()
{
    json_ = render();
    return json_;
}

std::string ErrorDescr::render() const
{
    ErrorReport report;
    report.code = code;
    report.time = time;
    report.service = service;
    report.format = format;
    report.params = params;
    report.severity = severity;
    report.altCode = altCode;
    report.altOrg = altOrg;
    return report.toJson();
}

} // namespace hil
