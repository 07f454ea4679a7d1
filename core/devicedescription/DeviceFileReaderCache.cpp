// SPDX-License-Identifier: Apache-2.0
#include "core/devicedescription/DeviceFileReaderCache.h"

#include <cctype>

#include "core/devicedescription/OrixToolsDeviceFileReader.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/FormatString.h"

namespace hil {

namespace {

bool sameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void logStep(const char* operation, const std::string& deviceName, const char* step)
{
    if (BackendLogger::debugOn(L_DBG))
        BackendLogger::debug(L_DBG, FormatString("OrixToolsDeviceFileReader::%s(%s) - %s", operation, deviceName.c_str(), step));
}

} // namespace

DeviceFileReaderCache::DeviceFileReaderCache(unsigned int blankEntries) : entries_(blankEntries) {}

std::shared_ptr<DIDevice> DeviceFileReaderCache::getFromCache(const std::string& name) const
{
    for (const auto& [key, device] : entries_)
        if (sameName(key, name))
            return device;
    return nullptr;
}

void DeviceFileReaderCache::addToCache(const std::string& name, std::shared_ptr<DIDevice> device)
{
    entries_.emplace_back(name, std::move(device));
}

template <class Read>
std::shared_ptr<DIDevice> DeviceFileReaderCache::cachedRead(const char* operation, const std::string& deviceName,
                                                            const Read& read)
{
    if (auto cached = getFromCache(deviceName)) {
        logStep(operation, deviceName, "uses cached model");
        return cached;
    }
    logStep(operation, deviceName, "start processing xml file");
    auto device = read();
    logStep(operation, deviceName, "done");
    if (device)
        addToCache(deviceName, device);
    return device;
}

std::shared_ptr<DIDevice> DeviceFileReaderCache::parseFile(Status& status, const std::string& path,
                                                           const std::string& deviceName)
{
    return cachedRead("parseFile", deviceName,
                      [&] { return OrixToolsDeviceFileReader::parseFile(status, path, deviceName); });
}

std::shared_ptr<DIDevice> DeviceFileReaderCache::parseFiles(Status& status, const std::vector<std::string>& paths,
                                                            const std::string& deviceName)
{
    return cachedRead("parseFiles", deviceName,
                      [&] { return OrixToolsDeviceFileReader::parseFiles(status, paths, deviceName); });
}

} // namespace hil
