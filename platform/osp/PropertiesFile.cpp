// SPDX-License-Identifier: Apache-2.0
#include "platform/osp/PropertiesFile.h"

#include <Poco/Util/LayeredConfiguration.h>
#include <Poco/Util/MapConfiguration.h>
#include <Poco/Util/PropertyFileConfiguration.h>

namespace hil::osp {

Poco::AutoPtr<Poco::Util::AbstractConfiguration> readPropertiesFile(const std::filesystem::path& file)
{
    Poco::AutoPtr<Poco::Util::LayeredConfiguration> layers = new Poco::Util::LayeredConfiguration;
    Poco::AutoPtr<Poco::Util::MapConfiguration> origin = new Poco::Util::MapConfiguration;
    origin->setString(kConfigDirKey, std::filesystem::absolute(file).parent_path().lexically_normal().string());
    layers->add(new Poco::Util::PropertyFileConfiguration(file.string()));
    layers->add(origin);
    return layers;
}

} // namespace hil::osp
