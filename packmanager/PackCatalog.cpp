// SPDX-License-Identifier: Apache-2.0
#include "packmanager/PackCatalog.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include <Poco/Exception.h>
#include <Poco/Zip/ZipArchive.h>
#include <Poco/Zip/ZipStream.h>
#include <boost/algorithm/string.hpp>
#include <boost/json.hpp>

#include "packmanager/DescriptionView.h"
#include "packmanager/DescriptionWriter.h"
#include "packmanager/PackXml.h"
#include "packmanager/SvdReader.h"
#include "platform/common/BackendLogger.h"
#include "platform/common/Errors.h"
#include "platform/common/HomeFolder.h"
#include "platform/common/WholeFile.h"

namespace hil::packs {

namespace fs = std::filesystem;
namespace json = boost::json;

std::vector<std::string> splitFolderList(const std::string& list, char separator)
{
    std::vector<std::string> parts;
    boost::algorithm::split(parts, list, [separator](char c) { return c == separator; });
    for (auto& part : parts)
        boost::algorithm::trim(part);
    std::erase(parts, std::string());
    return parts;
}

std::vector<std::string> packFoldersFromEnvironment(const std::string& sampleFolder)
{
    if (const char* folders = std::getenv("HIL_PACK_FOLDERS"); folders && *folders)
        return splitFolderList(folders, ':');
    return {sampleFolder, "~/.local/share/hilcore/packs"};
}

fs::path packCacheFromEnvironment()
{
    if (const char* cache = std::getenv("HIL_PACK_CACHE"); cache && *cache)
        return cache;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg)
        return fs::path(xdg) / "hilcore" / "packs";
    return fs::path(expandHome("~/.cache")) / "hilcore" / "packs";
}

namespace {

// 2: a loose SVD file's core, from its <cpu>.
constexpr int kCacheVersion = 2;
constexpr int kMaxDepth = 8;

bool hasExtension(const fs::path& file, const char* extension)
{
    return boost::algorithm::iequals(file.extension().string(), extension);
}

/// Stable over runs and builds, unlike std::hash.
std::string fingerprint(const std::string& text)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::ostringstream out;
    out << std::hex << hash;
    return out.str();
}

std::string readWhole(std::istream& in, std::uintmax_t limit, const std::string& source)
{
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > limit)
            throw PackSourceError(source + ": is over the " + std::to_string(limit >> 20) + " MiB it may have");
    }
    return text;
}

/// An archive entry's text; throws when the archive has no such entry.
std::string archiveEntry(const fs::path& archive, const std::string& entry, std::uintmax_t limit)
{
    std::ifstream in(archive, std::ios::binary);
    Poco::Zip::ZipArchive zip(in);
    const auto header = zip.findHeader(entry);
    if (header == zip.headerEnd())
        throw PackSourceError(archive.string() + ": has no " + entry);
    if (header->second.getUncompressedSize() > limit)
        throw PackSourceError(archive.string() + "/" + entry + ": is over the " + std::to_string(limit >> 20) +
                              " MiB it may have");
    Poco::Zip::ZipInputStream stream(in, header->second);
    return readWhole(stream, limit, archive.string() + "/" + entry);
}

json::object toJson(const CatalogDevice& device)
{
    json::array memories;
    for (const auto& memory : device.pack.memories)
        memories.push_back(json::object{{"name", memory.name},     {"access", memory.access},
                                        {"start", memory.start},   {"size", memory.size},
                                        {"default", memory.isDefault}, {"startup", memory.startup}});
    const auto& pack = device.pack;
    return json::object{{"name", device.name},
                        {"source", device.source},
                        {"svd", device.svd},
                        {"vendor", pack.vendor},
                        {"family", pack.family},
                        {"subFamily", pack.subFamily},
                        {"core", pack.core},
                        {"fpu", pack.fpu},
                        {"mpu", pack.mpu},
                        {"endian", pack.endian},
                        {"clock", pack.clock},
                        {"description", pack.description},
                        {"memories", memories}};
}

std::string textOf(const json::object& object, const char* key)
{
    const auto* value = object.if_contains(key);
    return value && value->is_string() ? std::string(value->get_string()) : std::string();
}

CatalogDevice deviceFromJson(const json::object& object)
{
    CatalogDevice device;
    device.name = textOf(object, "name");
    device.source = textOf(object, "source");
    device.svd = textOf(object, "svd");
    auto& pack = device.pack;
    pack.name = device.name;
    pack.vendor = textOf(object, "vendor");
    pack.family = textOf(object, "family");
    pack.subFamily = textOf(object, "subFamily");
    pack.core = textOf(object, "core");
    pack.fpu = textOf(object, "fpu");
    pack.mpu = textOf(object, "mpu");
    pack.endian = textOf(object, "endian");
    pack.clock = textOf(object, "clock");
    pack.description = textOf(object, "description");
    if (const auto* memories = object.if_contains("memories"); memories && memories->is_array())
        for (const auto& entry : memories->get_array()) {
            const auto& memory = entry.as_object();
            pack.memories.push_back({textOf(memory, "name"), textOf(memory, "access"),
                                     json::value_to<std::uint64_t>(memory.at("start")),
                                     json::value_to<std::uint64_t>(memory.at("size")), memory.at("default").as_bool(),
                                     memory.at("startup").as_bool()});
        }
    return device;
}

std::string stampOf(const fs::path& file)
{
    std::error_code error;
    const auto time = fs::last_write_time(file, error).time_since_epoch().count();
    const auto size = fs::file_size(file, error);
    return std::to_string(time) + ":" + std::to_string(error ? 0 : size);
}

/// Adds the .svd, .pdsc and .pack files under `folder`, down to `kMaxDepth` levels, to `found`.
void addSourceFiles(const std::string& folder, std::vector<fs::path>& found)
{
    std::error_code error;
    for (fs::recursive_directory_iterator entry(expandHome(folder), fs::directory_options::skip_permission_denied, error), end;
         !error && entry != end; entry.increment(error)) {
        if (entry.depth() >= kMaxDepth)
            entry.disable_recursion_pending();
        std::error_code typeError;
        const auto& path = entry->path();
        if (entry->is_regular_file(typeError) &&
            (hasExtension(path, ".svd") || hasExtension(path, ".pdsc") || hasExtension(path, ".pack")))
            found.push_back(path);
    }
}

/// The source files of `folders`, but for the SVD files of unzipped packs: those are read as
/// their pack names them.
std::vector<fs::path> sourceFiles(const std::vector<std::string>& folders)
{
    // Every folder first: a pack's SVD files may be found before its .pdsc.
    std::vector<fs::path> found;
    for (const auto& folder : folders)
        addSourceFiles(folder, found);
    std::set<fs::path> packRoots;
    for (const auto& path : found)
        if (hasExtension(path, ".pdsc"))
            packRoots.insert(path.parent_path());
    const auto insidePack = [&](const fs::path& svd) {
        for (fs::path folder = svd.parent_path(); !folder.empty() && folder != folder.root_path(); folder = folder.parent_path())
            if (packRoots.count(folder))
                return true;
        return false;
    };
    std::erase_if(found, [&](const fs::path& path) { return hasExtension(path, ".svd") && insidePack(path); });
    return found;
}

/// The core an SVD's `<cpu>` names, as the catalog spells cores ("CM0PLUS" and "CM0+" are
/// "CORTEX-M0PLUS"); a name it does not know as written.
std::string svdCore(const std::string& cpu)
{
    const std::string architecture = architectureOf(cpu);
    return boost::algorithm::starts_with(architecture, "CORTEX-") ? architecture : cpu;
}

/// The device of a loose SVD file, named as the head of the file names it.
CatalogDevice looseSvdDevice(const fs::path& file)
{
    const auto head = SvdReader::peekHead(file);
    if (head.name.empty())
        throw PackSourceError(file.string() + ": no device <name> before its peripherals");
    CatalogDevice device;
    device.name = head.name;
    device.source = file.string();
    device.svd = file.string();
    device.pack.name = head.name;
    device.pack.vendor = head.vendor;
    device.pack.core = svdCore(head.cpu);
    return device;
}

/// A pack description, and what errors call it.
struct PdscText {
    std::string text;
    std::string name;
};

/// The .pdsc at the root of a .pack archive.
PdscText pdscInArchive(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    // The reader takes any bytes for an archive without entries; a ZIP starts so.
    char signature[4] = {};
    in.read(signature, sizeof signature);
    if (std::string(signature, sizeof signature) != std::string("PK\x03\x04", 4))
        throw PackSourceError(file.string() + ": not a ZIP archive");
    in.seekg(0);
    try {
        Poco::Zip::ZipArchive zip(in);
        std::string entry;
        for (auto header = zip.headerBegin(); header != zip.headerEnd(); ++header)
            if (header->first.find('/') == std::string::npos && hasExtension(header->first, ".pdsc"))
                entry = header->first;
        if (entry.empty())
            throw PackSourceError(file.string() + ": holds no .pdsc at its root");
        return {archiveEntry(file, entry, PackCatalog::kMaxPdscBytes), file.string() + "/" + entry};
    } catch (const Poco::Exception& error) {
        throw PackSourceError(file.string() + ": not a ZIP archive: " + error.displayText());
    }
}

/// Adds the devices the pack description `file` (a .pdsc, or a .pack holding one) declares to
/// `devices`, and what keeps one from being used to `problems`.
void addPackDevices(const fs::path& file, std::vector<CatalogDevice>& devices, std::vector<CatalogProblem>& problems)
{
    const bool archive = hasExtension(file, ".pack");
    const PdscText pdsc = archive ? pdscInArchive(file) : PdscText{readPackFile(file, PackCatalog::kMaxPdscBytes), file.string()};
    auto pack = PdscReader::read(pdsc.text, pdsc.name);
    if (pack.devices.empty())
        problems.push_back({file.string(), pdsc.name + ": declares no device"});
    // The core of a device its pack gives none: its SVD's, one look at each SVD.
    std::map<std::string, std::string> svdCores;
    const auto coreOf = [&](const std::string& svd) {
        const auto [known, added] = svdCores.try_emplace(svd);
        if (added) {
            try {
                if (!archive) {
                    known->second = svdCore(SvdReader::peekHead(svd).cpu);
                } else {
                    std::ifstream in(file, std::ios::binary);
                    Poco::Zip::ZipArchive zip(in);
                    if (const auto header = zip.findHeader(svd); header != zip.headerEnd()) {
                        Poco::Zip::ZipInputStream stream(in, header->second);
                        known->second = svdCore(SvdReader::peekHead(stream).cpu);
                    }
                }
            } catch (const std::exception&) {
                // An SVD that cannot be read is said when the device is described.
            }
        }
        return known->second;
    };
    for (auto& device : pack.devices) {
        CatalogDevice entry;
        entry.name = device.name;
        entry.source = file.string();
        if (!device.svd.empty()) {
            const std::string svd = boost::algorithm::replace_all_copy(device.svd, "\\", "/");
            entry.svd = archive ? svd : (file.parent_path() / svd).lexically_normal().string();
            if (!archive && !fs::exists(entry.svd))
                problems.push_back({file.string(), "device " + device.name + ": its SVD " + svd + " is missing"});
        }
        entry.pack = std::move(device);
        if (entry.pack.core.empty() && !entry.svd.empty())
            entry.pack.core = coreOf(entry.svd);
        devices.push_back(std::move(entry));
    }
}

} // namespace

PackCatalog::PackCatalog(std::vector<std::string> folders, fs::path cacheDirectory)
    : folders_(std::move(folders)), cacheDirectory_(std::move(cacheDirectory))
{
}

void PackCatalog::setFolders(const std::vector<std::string>& folders)
{
    std::lock_guard lock(mutex_);
    folders_ = folders;
    scanned_ = false;
}

void PackCatalog::rescan()
{
    std::lock_guard lock(mutex_);
    scanLocked();
}

void PackCatalog::ensureScannedLocked() const
{
    if (!scanned_)
        scanLocked();
}

void PackCatalog::scanLocked() const
{
    const bool changed = refreshSourcesLocked(sourceFiles(folders_));
    indexDevicesLocked();
    scanned_ = true;
    if (changed)
        saveCacheLocked();
}

bool PackCatalog::refreshSourcesLocked(const std::vector<fs::path>& files) const
{
    std::vector<Source> cached;
    loadCacheLocked(cached);
    bool changed = files.size() != cached.size();
    std::vector<Source> sources;
    for (const auto& path : files) {
        const std::string stamp = stampOf(path);
        const auto known = std::find_if(cached.begin(), cached.end(),
                                        [&](const Source& s) { return s.path == path.string() && s.stamp == stamp; });
        if (known != cached.end()) {
            sources.push_back(std::move(*known));
            continue;
        }
        sources.push_back(readSource(path, stamp));
        changed = true;
    }
    sources_ = std::move(sources);
    return changed;
}

void PackCatalog::indexDevicesLocked() const
{
    devices_.clear();
    problems_.clear();
    byFoldedName_.clear();
    for (const auto& source : sources_) {
        problems_.insert(problems_.end(), source.problems.begin(), source.problems.end());
        for (const auto& device : source.devices) {
            const auto [first, added] = byFoldedName_.try_emplace(asciiLower(device.name), devices_.size());
            if (added)
                devices_.push_back(device);
            else
                problems_.push_back({source.path, "device " + device.name + " is also in " +
                                                      devices_[first->second].source + ", which is the one used"});
        }
    }
    std::sort(devices_.begin(), devices_.end(), [](const CatalogDevice& a, const CatalogDevice& b) {
        return boost::algorithm::ilexicographical_compare(a.name, b.name);
    });
    for (std::size_t i = 0; i < devices_.size(); ++i)
        byFoldedName_[asciiLower(devices_[i].name)] = i;
}

PackCatalog::Source PackCatalog::readSource(const fs::path& file, const std::string& stamp)
{
    Source source{file.string(), stamp, {}, {}};
    try {
        if (hasExtension(file, ".svd"))
            source.devices.push_back(looseSvdDevice(file));
        else
            addPackDevices(file, source.devices, source.problems);
    } catch (const PackSourceError& error) {
        source.problems.push_back({file.string(), error.what()});
    } catch (const std::exception& error) {
        source.problems.push_back({file.string(), file.string() + ": " + error.what()});
    }
    return source;
}

std::vector<CatalogDevice> PackCatalog::devices(const std::string& filter) const
{
    std::lock_guard lock(mutex_);
    ensureScannedLocked();
    if (filter.empty())
        return devices_;
    std::vector<CatalogDevice> matching;
    for (const auto& device : devices_)
        if (boost::algorithm::icontains(device.name, filter) || boost::algorithm::icontains(device.pack.vendor, filter) ||
            boost::algorithm::icontains(device.pack.family, filter))
            matching.push_back(device);
    return matching;
}

std::vector<CatalogProblem> PackCatalog::problems() const
{
    std::lock_guard lock(mutex_);
    ensureScannedLocked();
    return problems_;
}

std::optional<CatalogDevice> PackCatalog::find(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    ensureScannedLocked();
    const auto found = byFoldedName_.find(asciiLower(name));
    return found == byFoldedName_.end() ? std::nullopt : std::optional<CatalogDevice>(devices_[found->second]);
}

std::size_t PackCatalog::svdReads() const
{
    std::lock_guard lock(mutex_);
    return svdReads_;
}

fs::path PackCatalog::descriptionPath(const CatalogDevice& device) const
{
    const auto source = std::find_if(sources_.begin(), sources_.end(), [&](const Source& s) { return s.path == device.source; });
    const std::string stamp = source == sources_.end() ? std::string() : source->stamp;
    std::string safeName = device.name;
    for (auto& c : safeName)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    return cacheDirectory_ / "descriptions" /
           (safeName + "-" + fingerprint(device.source + "|" + stamp + "|" + device.svd + "|" + device.name) + ".tdesc");
}

std::string PackCatalog::descriptionFile(const std::string& name)
{
    const auto device = find(name);
    if (!device)
        throw NotFoundError("no pack folder holds a device " + name);
    std::lock_guard lock(mutex_);
    try {
        return descriptionFileLocked(*device);
    } catch (const std::exception& error) {
        // Kept where "problems" shows it: the Device service only hears "no file".
        const CatalogProblem problem{device->source, error.what()};
        if (std::none_of(problems_.begin(), problems_.end(),
                         [&](const CatalogProblem& p) { return p.source == problem.source && p.text == problem.text; }))
            problems_.push_back(problem);
        throw;
    }
}

std::string PackCatalog::descriptionFileLocked(const CatalogDevice& device)
{
    const fs::path file = descriptionPath(device);
    if (fs::exists(file))
        return file.string();
    if (!device.svd.empty())
        ++svdReads_;
    writeWholeFile(file, describe(device).text);
    return file.string();
}

std::vector<CatalogDevice> PackCatalog::devicesOf(const fs::path& file, std::vector<CatalogProblem>& problems)
{
    auto source = readSource(file, stampOf(file));
    problems.insert(problems.end(), source.problems.begin(), source.problems.end());
    return std::move(source.devices);
}

PackCatalog::Description PackCatalog::describe(const CatalogDevice& device)
{
    SvdDevice svd;
    if (!device.svd.empty()) {
        if (hasExtension(device.source, ".pack")) {
            try {
                svd = SvdReader::readText(archiveEntry(device.source, device.svd, SvdReader::kMaxFileBytes),
                                          device.source + "/" + device.svd);
            } catch (const Poco::Exception& error) {
                throw PackSourceError(device.source + ": " + device.svd + ": " + error.displayText());
            }
        } else {
            svd = SvdReader::readFile(device.svd);
        }
    }
    // A pack's name for the device wins over its SVD's: one SVD often serves a whole family.
    svd.name = device.name;
    const PackDevice* pack = hasExtension(device.source, ".svd") ? nullptr : &device.pack;
    if (svd.cpu.name.empty() && pack)
        svd.cpu.name = pack->core;
    const fs::path origin = device.svd.empty() ? device.source : device.svd;
    // The vendor as the catalog lists the device, which for a loose SVD file is what its head says.
    return {DescriptionWriter::write(svd, pack, origin.filename().string()),
            architectureOf(packOrSvd(pack, &PackDevice::core, svd.cpu.name)),
            packOrSvd(&device.pack, &PackDevice::vendor, svd.vendor), svd.warnings};
}

CatalogSummary PackCatalog::summary(const std::string& name)
{
    const auto device = find(name);
    if (!device)
        throw NotFoundError("no pack folder holds a device " + name);
    std::lock_guard lock(mutex_);
    CatalogSummary summary;
    summary.device = *device;
    summary.descriptionFile = descriptionFileLocked(*device);
    const std::string text = readPackFile(summary.descriptionFile, std::numeric_limits<std::uintmax_t>::max());
    summary.peripheralCount = DescriptionView::readText(text, summary.descriptionFile).size();
    summary.warnings = DescriptionView::readWarningsText(text, summary.descriptionFile);
    return summary;
}

fs::path PackCatalog::catalogFileLocked() const
{
    // One file per set of folders: back-ends started with other folders keep their own.
    return cacheDirectory_ / ("catalog-" + fingerprint(boost::algorithm::join(folders_, "\n")) + ".json");
}

void PackCatalog::loadCacheLocked(std::vector<Source>& into) const
{
    std::ifstream in(catalogFileLocked(), std::ios::binary);
    if (!in)
        return;
    try {
        std::stringstream text;
        text << in.rdbuf();
        const auto root = json::parse(text.str()).as_object();
        if (root.at("version").as_int64() != kCacheVersion)
            return;
        for (const auto& entry : root.at("sources").as_array()) {
            const auto& object = entry.as_object();
            Source source{textOf(object, "path"), textOf(object, "stamp"), {}, {}};
            for (const auto& device : object.at("devices").as_array())
                source.devices.push_back(deviceFromJson(device.as_object()));
            for (const auto& problem : object.at("problems").as_array())
                source.problems.push_back({textOf(problem.as_object(), "source"), textOf(problem.as_object(), "text")});
            into.push_back(std::move(source));
        }
    } catch (const std::exception&) {
        // A damaged cache is as good as none: everything is read again.
        into.clear();
    }
}

void PackCatalog::saveCacheLocked() const
{
    json::array sources;
    for (const auto& source : sources_) {
        json::array devices;
        for (const auto& device : source.devices)
            devices.push_back(toJson(device));
        json::array problems;
        for (const auto& problem : source.problems)
            problems.push_back(json::object{{"source", problem.source}, {"text", problem.text}});
        sources.push_back(json::object{{"path", source.path}, {"stamp", source.stamp}, {"devices", devices}, {"problems", problems}});
    }
    try {
        writeWholeFile(catalogFileLocked(), json::serialize(json::object{{"version", kCacheVersion}, {"sources", sources}}));
    } catch (const std::exception& error) {
        // A cache that cannot be written costs the next start a scan, nothing more.
        BackendLogger::error(L_HIL, std::string("Pack catalog: its cache is not saved: ") + error.what());
    }
}

} // namespace hil::packs
