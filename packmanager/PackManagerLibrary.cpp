// SPDX-License-Identifier: Apache-2.0
// The library's entries: the back-end's Device service loads "vlpackmanagerlib" at run time and
// calls "getPackService"; the "Packs" service calls "getPackCatalog".

#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

#include "packmanager/SampleFolder.h"
#include "packmanager/SimplePackService.h"

namespace {

/// The sample devices of the tree this library is installed in, else of the build tree.
std::string sampleFolder()
{
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&sampleFolder), &self) == 0 || !self.dli_fname)
        return HIL_DEFAULT_PACK_DIR;
    return hil::packs::sampleFolderFor(self.dli_fname, HIL_DEFAULT_PACK_DIR).string();
}

/// One catalog for the process: a rescan through the "Packs" service is seen by the Device
/// service too. It lives as long as the library, which stays loaded.
std::shared_ptr<hil::packs::PackCatalog> sharedCatalog()
{
    static const auto catalog = std::make_shared<hil::packs::PackCatalog>(
        hil::packs::packFoldersFromEnvironment(sampleFolder()), hil::packs::packCacheFromEnvironment());
    return catalog;
}

} // namespace

/// A new pack service over the pack directory (the environment's HIL_PACK_DIR when set, else the
/// sample devices of `sampleFolder`) and the shared catalog. Multi-file devices are assembled
/// under the system's temporary directory. The caller deletes it.
extern "C" __attribute__((visibility("default"))) hil::ISimplePackService* getPackService()
{
    const char* fromEnvironment = std::getenv("HIL_PACK_DIR");
    const std::filesystem::path packs = fromEnvironment && *fromEnvironment ? fromEnvironment : sampleFolder();
    const auto assembly = std::filesystem::temp_directory_path() / ("hilcore-packs-" + std::to_string(getuid()));
    return new hil::packs::SimplePackService(packs, assembly, sharedCatalog());
}

/// The process's catalog; the library owns it.
extern "C" __attribute__((visibility("default"))) hil::packs::IPackCatalog* getPackCatalog()
{
    return sharedCatalog().get();
}
