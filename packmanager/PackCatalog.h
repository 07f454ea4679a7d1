// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "packmanager/IPackCatalog.h"
#include "packmanager/PdscReader.h"

namespace hil::packs {

/// A device with what its description adds: made on first use, and cached.
struct CatalogSummary {
    CatalogDevice device;
    std::string descriptionFile;
    std::size_t peripheralCount = 0;
    /// What reading its SVD left out or clamped (`SvdDevice::warnings`).
    std::vector<std::string> warnings;
};

/// The catalog over pack folders, with its cache on disk.
///
/// A folder is searched down to 8 levels for loose ".svd" files (one device each, named by its
/// `<name>`), unzipped packs (a folder holding a ".pdsc": the SVD files under it belong to the
/// pack) and ".pack" archives. The cache folder holds "catalog-N.json" for each set of folders (what each source gave,
/// keyed by its path, modification time and size) and "descriptions/", one description file per
/// device made the first time someone asks for it; a second start with nothing changed reads
/// neither SVD nor pack description.
class PackCatalog : public IPackCatalog {
public:
    /// Nothing is read until the first use.
    PackCatalog(std::vector<std::string> folders, std::filesystem::path cacheDirectory);

    void setFolders(const std::vector<std::string>& folders) override;
    void rescan() override;
    std::vector<CatalogDevice> devices(const std::string& filter) const override;
    std::vector<CatalogProblem> problems() const override;
    /// Throws `NotFoundError` for an unknown device, `PackSourceError` for a source that cannot be
    /// read.
    CatalogSummary summary(const std::string& name);

    /// The description file of the device, made now if the cache has none; throws as `summary`.
    std::string descriptionFile(const std::string& name);
    /// The first device of that name in any case; null when there is none.
    std::optional<CatalogDevice> find(const std::string& name) const;

    /// The devices one source file (.svd, .pdsc or .pack) gives; what keeps one from being
    /// used is added to `problems`.
    static std::vector<CatalogDevice> devicesOf(const std::filesystem::path& file, std::vector<CatalogProblem>& problems);
    struct Description {
        std::string text;
        /// "CORTEX-M3": the pack's core, else the SVD's CPU.
        std::string architecture;
        /// The pack's vendor, else the SVD's.
        std::string vendor;
        /// What reading the SVD left out or clamped; `text` holds them too.
        std::vector<std::string> warnings;
    };
    /// The description file of one device; throws `PackSourceError`.
    static Description describe(const CatalogDevice& device);

    /// How many SVD files this catalog has read (for tests of the cache).
    std::size_t svdReads() const;

    /// A pack description over this is refused: the largest real ones are a few MiB.
    static constexpr std::uintmax_t kMaxPdscBytes = 16u << 20;

private:
    struct Source {
        std::string path;
        std::string stamp;
        std::vector<CatalogDevice> devices;
        std::vector<CatalogProblem> problems;
    };

    void scanLocked() const;
    void ensureScannedLocked() const;
    /// Sets `sources_` to what `files` give, each unchanged since the cache was written taken
    /// from the cache; whether they differ from what the cache holds.
    bool refreshSourcesLocked(const std::vector<std::filesystem::path>& files) const;
    /// Fills `devices_`, `byFoldedName_` and `problems_` from `sources_`.
    void indexDevicesLocked() const;
    static Source readSource(const std::filesystem::path& file, const std::string& stamp);
    std::string descriptionFileLocked(const CatalogDevice& device);
    std::filesystem::path descriptionPath(const CatalogDevice& device) const;
    void loadCacheLocked(std::vector<Source>& into) const;
    /// Logs a failure: a cache that cannot be written is no reason to refuse the scan.
    void saveCacheLocked() const;
    std::filesystem::path catalogFileLocked() const;

    mutable std::mutex mutex_;
    std::vector<std::string> folders_;
    std::filesystem::path cacheDirectory_;
    mutable bool scanned_ = false;
    mutable std::vector<Source> sources_;
    mutable std::vector<CatalogDevice> devices_;
    /// Each device's position in `devices_`, by its name in lower case.
    mutable std::unordered_map<std::string, std::size_t> byFoldedName_;
    mutable std::vector<CatalogProblem> problems_;
    std::size_t svdReads_ = 0;
};

/// The folders of HIL_PACK_FOLDERS (separated by ':') when it is set, else `sampleFolder` and
/// the user's "~/.local/share/hilcore/packs".
std::vector<std::string> packFoldersFromEnvironment(const std::string& sampleFolder);
/// HIL_PACK_CACHE when it is set, else "$XDG_CACHE_HOME/hilcore/packs", else
/// "~/.cache/hilcore/packs".
std::filesystem::path packCacheFromEnvironment();
/// "a, b,c" as its trimmed, non-empty parts.
std::vector<std::string> splitFolderList(const std::string& list, char separator);

} // namespace hil::packs
