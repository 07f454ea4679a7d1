// SPDX-License-Identifier: Apache-2.0
#include "bundles/simulator/VirtualProbes.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include <boost/json/parse.hpp>

#include "core/interfaces/PropertyKeys.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/HomeFolder.h"

namespace hil::simulator {

namespace {

/// A probe file is a few properties; anything larger is not one.
constexpr std::uintmax_t kMaxProbeFileBytes = 64 * 1024;

/// The text value of `key`, empty when absent or not text.
std::string textOf(const boost::json::object& properties, const std::string& key)
{
    const auto* value = properties.if_contains(key);
    return value && value->is_string() ? std::string(value->get_string()) : std::string();
}

} // namespace

VirtualConnectionFactory::VirtualConnectionFactory(std::filesystem::path probeDirectory)
    : probeDirectory_(expandHome(probeDirectory.string()))
{
}

bool VirtualConnectionFactory::readProbeFile(const std::filesystem::path& file, boost::json::object& properties)
{
    std::string problem;
    std::error_code sizeError;
    const auto size = std::filesystem::file_size(file, sizeError);
    if (sizeError || size > kMaxProbeFileBytes) {
        problem = "unreadable or larger than 64 KiB";
    } else {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        boost::system::error_code parseError;
        const auto value = boost::json::parse(text.str(), parseError);
        if (!parseError && value.is_object()) {
            properties = value.get_object();
            std::lock_guard lock(reportedMutex_);
            reportedBadFiles_.erase(file);
            return true;
        }
        problem = "not a JSON object";
    }
    std::lock_guard lock(reportedMutex_);
    if (reportedBadFiles_.insert(file).second)
        BackendLogger::error("simulator", "Skipping virtual probe file " + file.string() + ": " + problem);
    return false;
}

std::vector<std::shared_ptr<IConnection>> VirtualConnectionFactory::getAttachedConnections()
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(probeDirectory_, error), end; !error && entry != end;
         entry.increment(error))
        if (entry->path().extension() == kProbeFileExtension && entry->is_regular_file())
            files.push_back(entry->path());
    std::sort(files.begin(), files.end());

    std::vector<std::shared_ptr<IConnection>> attached;
    for (const auto& file : files) {
        boost::json::object properties;
        if (readProbeFile(file, properties))
            attached.push_back(std::make_shared<VirtualConnection>(std::move(properties)));
    }
    return attached;
}

std::shared_ptr<IConnection> VirtualConnectionFactory::createConnection(const boost::json::object& properties)
{
    const bool bySerial = properties.contains(keys::ConnectionKey::SerialNumber);
    const std::string& key = bySerial ? keys::ConnectionKey::SerialNumber : keys::ConnectionKey::PortName;
    const std::string wanted = textOf(properties, key);
    if (wanted.empty())
        return nullptr;
    for (const auto& connection : getAttachedConnections())
        if (textOf(connection->getConnectionProperties(), key) == wanted)
            return connection;
    return nullptr;
}

} // namespace hil::simulator
