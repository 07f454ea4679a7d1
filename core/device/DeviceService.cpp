// SPDX-License-Identifier: Apache-2.0
#include "core/device/DeviceService.h"

#include <algorithm>
#include <filesystem>

#include <Poco/Exception.h>
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/split.hpp>

#include "core/interfaces/IAdClassFactoryManager.h"
#include "core/interfaces/PackManagerEntry.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/CoreException.h"
#include "platform/common/FormatString.h"

namespace hil {

namespace fs = std::filesystem;

namespace {

/// The text of the exception being handled. Call inside a catch block.
std::string currentErrorText()
{
    try {
        throw;
    } catch (const Poco::Exception& error) {
        return error.displayText();
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an exception of unknown type";
    }
}

} // namespace

DeviceService::DeviceService(IOrixDebugger& debugger)
    : ServiceBase(debugger, "Device"), cache_(std::make_shared<DeviceFileReaderCache>(1)), packService_(getPackService())
{
}

DeviceService::~DeviceService()
{
    packService_.reset();
    cache_.reset();
}

std::string DeviceService::preference(const std::string& key) const
{
    const auto manager = debugger_.getClassFactoryManager();
    return manager ? manager->getPreference(key) : std::string();
}

std::shared_ptr<ISimplePackService> DeviceService::getPackService()
{
    const auto entry = findPackManagerEntry([this](const std::string& key) { return preference(key); }, "getPackService");
    if (entry)
        return std::shared_ptr<ISimplePackService>(reinterpret_cast<GetPackServiceFunction>(entry)());
    BackendLogger::info(L_HIL, "Running without Pack Manager. Using fallback values where appropriate.");
    return nullptr;
}

std::string DeviceService::searchDeviceFile(const std::string& deviceName) const
{
    const std::string root = preference("application.dir");
    if (root.empty())
        return {};
    const std::string wanted = deviceName + ".tdesc";
    const bool logEntries = BackendLogger::debugOn(L_HIL);
    std::error_code error;
    for (fs::recursive_directory_iterator entry(root, fs::directory_options::skip_permission_denied, error), end;
         !error && entry != end; entry.increment(error)) {
        if (logEntries)
            BackendLogger::debug(L_HIL, "Iterating \"" + entry->path().string() + "\"");
        std::error_code typeError;
        if (entry->is_regular_file(typeError) && boost::algorithm::iequals(entry->path().filename().string(), wanted))
            return entry->path().string();
    }
    return {};
}

std::shared_ptr<DIDevice> DeviceService::getDeviceInfo(Status& status, const std::string& deviceName)
{
    if (auto cached = cache_->getFromCache(deviceName))
        return cached;
    std::string file = packService_ ? packService_->getDeviceFile(deviceName) : std::string();
    if (file.empty())
        file = searchDeviceFile(deviceName);
    std::error_code error;
    if (file.empty() || !fs::exists(file, error) || error)
        CoreException::createAndThrow(L_HIL, ErrorCode::NotFound, "No device files were found for the specified device");
    try {
        if (BackendLogger::debugOn(L_HIL))
            BackendLogger::debug(L_HIL, "Using device file " + file);
        return cache_->parseFiles(status, {file}, deviceName);
    } catch (...) {
        // The client learns only which device failed; why it failed goes to the log first.
        BackendLogger::error(L_HIL, "Reading " + file + " for device '" + deviceName + "' failed: " + currentErrorText());
        CoreException::createAndThrow(L_HIL, ErrorCode::UnknownDeviceError,
                                      "Unknown error when resolving device '" + deviceName + "'");
    }
}

std::string DeviceService::getDeviceProperty(const std::string& deviceName, const std::string& key, bool alternative)
{
    if (!packService_)
        return {};
    return alternative ? packService_->lookupDevicePropertyAlt(deviceName, key)
                       : packService_->lookupDeviceProperty(deviceName, key);
}

DeviceApplets DeviceService::getDeviceApplets(const std::string& deviceName)
{
    const std::string lower = boost::algorithm::to_lower_copy(deviceName);
    const fs::path root = debugger_.getSetting(kAppletPathSetting, kDefaultAppletPath);
    std::error_code error;
    if (!fs::is_directory(root, error))
        return {};
    fs::path folder;
    for (fs::directory_iterator entry(root, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code typeError;
        if (!entry->is_directory(typeError))
            continue;
        // Folders are named after the device family: "kq77" + family + "-" or "_" + anything.
        std::string name = entry->path().filename().string();
        if (const auto marker = name.find("kq77"); marker != std::string::npos)
            name.erase(marker, 4);
        std::vector<std::string> pieces;
        boost::algorithm::split(pieces, name, [](char c) { return c == '-' || c == '_'; });
        if (lower.find(boost::algorithm::to_lower_copy(pieces.front())) != std::string::npos) {
            folder = entry->path();
            BackendLogger::info("getavaliableapplets", FormatString("Found appletfolder for device %s", folder.string().c_str()));
            break;
        }
    }
    if (folder.empty())
        return {};
    std::vector<std::map<std::string, std::string>> applets;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code typeError;
        if (!entry->is_regular_file(typeError) || entry->path().extension() != ".bin")
            continue;
        std::vector<std::string> pieces;
        const std::string name = entry->path().filename().string();
        boost::algorithm::split(pieces, name, [](char c) { return c == '-' || c == '_'; });
        if (pieces.size() >= 2 && pieces[1] != "lowlevelinit")
            applets.push_back({{"name", pieces[1]}, {"path", entry->path().string()}});
    }
    return {{"Floka", applets}};
}

} // namespace hil
