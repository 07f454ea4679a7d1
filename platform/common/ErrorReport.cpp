// SPDX-License-Identifier: Apache-2.0
#include "platform/common/ErrorReport.h"

#include <boost/json.hpp>

#include "platform/common/Utf8.h"

namespace hil {

std::string ErrorReport::toJson() const
{
    if (code == 0)
        return {};
    boost::json::object report;
    report["Code"] = code;
    if (time != 0)
        report["Time"] = time;
    if (!service.empty())
        report["Service"] = validUtf8(service);
    if (!format.empty())
        report["Format"] = validUtf8(format);
    if (!params.empty()) {
        boost::json::array list;
        for (const auto& param : params)
            list.emplace_back(validUtf8(param));
        report["Params"] = std::move(list);
    }
    if (severity != 0)
        report["Severity"] = severity;
    if (altCode != 0)
        report["AltCode"] = altCode;
    if (!altOrg.empty())
        report["AltOrg"] = validUtf8(altOrg);
    return boost::json::serialize(report);
}

} // namespace hil
