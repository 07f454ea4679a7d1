#include "platform/common/ErrorReport.h"

#include <boost/json.hpp>

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
        report["Service"] = service;
    if (!format.empty())
        report["Format"] = format;
    if (!params.empty()) {
        boost::json::array list;
        for (const auto& param : params)
            list.emplace_back(param);
        report["Params"] = std::move(list);
    }
    if (severity != 0)
        report["Severity"] = severity;
    if (altCode != 0)
        report["AltCode"] = altCode;
    if (!altOrg.empty())
        report["AltOrg"] = altOrg;
    return boost::json::serialize(report);
}

} // namespace hil
