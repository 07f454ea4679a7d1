// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>
#include <string>

#include <Poco/AutoPtr.h>
#include <Poco/Util/AbstractConfiguration.h>

#include "platform/osp/Service.h"

namespace hil::osp {

/// The platform's preferences, registered under `SERVICE_NAME`.
class PreferencesService : public Service {
public:
    using Ptr = Poco::AutoPtr<PreferencesService>;
    static const std::string SERVICE_NAME;

    /// Reads a properties file (see `readPropertiesFile`); the empty path gives no preferences.
    /// Throws `Poco::Exception` when a named file cannot be read.
    explicit PreferencesService(const std::filesystem::path& file);
    /// Serves preferences read elsewhere.
    explicit PreferencesService(Poco::AutoPtr<Poco::Util::AbstractConfiguration> configuration);

    const Poco::Util::AbstractConfiguration& configuration() const { return *configuration_; }

    const std::type_info& type() const override { return typeid(PreferencesService); }
    bool isA(const std::type_info& other) const override
    {
        return other == typeid(PreferencesService) || Service::isA(other);
    }

private:
    Poco::AutoPtr<Poco::Util::AbstractConfiguration> configuration_;
};

} // namespace hil::osp
