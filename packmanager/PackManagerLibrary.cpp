// The library's one entry: the back-end's Device service loads "vlpackmanagerlib" at run time
// and calls "getPackService".

#include <cstdlib>
#include <unistd.h>

#include "packmanager/SimplePackService.h"

/// A new pack service over the pack directory: the environment's HIL_PACK_DIR when set, else the
/// sample devices this library was built with. Multi-file devices are assembled under the
/// system's temporary directory. The caller deletes it.
extern "C" __attribute__((visibility("default"))) hil::ISimplePackService* getPackService()
{
    const char* fromEnvironment = std::getenv("HIL_PACK_DIR");
    const std::filesystem::path packs = fromEnvironment && *fromEnvironment ? fromEnvironment : HIL_DEFAULT_PACK_DIR;
    const auto assembly = std::filesystem::temp_directory_path() / ("hilcore-packs-" + std::to_string(getuid()));
    return new hil::packs::SimplePackService(packs, assembly);
}
