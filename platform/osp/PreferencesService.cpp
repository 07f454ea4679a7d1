// SPDX-License-Identifier: Apache-2.0
#include "platform/osp/PreferencesService.h"

#include <Poco/Util/MapConfiguration.h>

#include "platform/osp/PropertiesFile.h"

namespace hil::osp {

const std::string PreferencesService::SERVICE_NAME = "osp.core.preferences";

PreferencesService::PreferencesService(const std::filesystem::path& file)
{
    if (file.empty())
        configuration_ = new Poco::Util::MapConfiguration;
    else
        configuration_ = readPropertiesFile(file);
}

PreferencesService::PreferencesService(Poco::AutoPtr<Poco::Util::AbstractConfiguration> configuration)
    : configuration_(std::move(configuration))
{
}

} // namespace hil::osp
