#include "platform/osp/PreferencesService.h"

#include <Poco/Util/MapConfiguration.h>
#include <Poco/Util/PropertyFileConfiguration.h>

namespace hil::osp {

const std::string PreferencesService::SERVICE_NAME = "osp.core.preferences";

PreferencesService::PreferencesService(const std::filesystem::path& file)
{
    if (file.empty())
        configuration_ = new Poco::Util::MapConfiguration;
    else
        configuration_ = new Poco::Util::PropertyFileConfiguration(file.string());
}

} // namespace hil::osp
