// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "core/device/DeviceService.h"
#include "core/devicedescription/OrixToolsDeviceFileReader.h"
#include "packmanager/SimplePackService.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/FakeTools.h"
#include "tests/fakes/TempDirectory.h"

namespace hil::packs {
namespace {

using testing::ElementsAre;

/// Every register of every module instance as "INSTANCE.GROUP.REGISTER@ADDRESS", and the
/// device's other lists, so that two reads can be compared whole.
std::vector<std::string> fingerprint(const DIDevice& device)
{
    std::vector<std::string> lines{device.getArchitecture(), device.getSeries()};
    for (const auto& space : device.getAddressSpaces())
        lines.push_back("space " + space->getId());
    for (const auto& module : device.getModules())
        for (const auto& group : module->getRegisterGroups())
            for (const auto& reg : group->getRegisters())
                lines.push_back(module->getName() + "." + group->getName() + "." + reg->getName() + "@" +
                                std::to_string(reg->getAddress()));
    for (const auto& group : device.getPropertyGroups())
        lines.push_back("properties " + group->getName());
    if (const auto parameters = device.getParameters())
        for (const auto& parameter : parameters->getProperties())
            lines.push_back("parameter " + parameter->getName() + "=" + parameter->getValue());
    for (const auto& variant : device.getVariants())
        lines.push_back("variant " + variant->getOrderCode());
    return lines;
}

class SimplePackServiceTest : public testing::Test {
protected:
    fakes::TempDirectory packs;
    fakes::TempDirectory assembly;
    Status status;
};

TEST_F(SimplePackServiceTest, IndexAnswersFilesAndPropertiesByNameInAnyCaseAndNoFileWhenAPartIsMissing)
{
    packs.write("pack.index", "# a pack\n[DEMO8]\nfiles = DEMO8.tdesc\nSignature = 0x1E950D\nalt.Signature = 1E-95-0D\n"
                              "stray line\n[Other]\nfiles =\n[SPLIT]\nfiles = a.tdesc, b.tdesc\n");
    packs.write("a.tdesc", "<f><devices><device/></devices></f>");
    const SimplePackService pack(packs.path(), assembly.path());
    EXPECT_THAT(pack.getDevices(), ElementsAre("DEMO8", "Other", "SPLIT"));
    EXPECT_EQ(pack.getDeviceFile("demo8"), (packs.path() / "DEMO8.tdesc").string());
    EXPECT_EQ(pack.getDeviceFile("Other"), "");
    EXPECT_EQ(pack.getDeviceFile("NOPE"), "");
    EXPECT_EQ(pack.getDeviceFile("SPLIT"), "") << "one of its files is missing";
    EXPECT_EQ(pack.lookupDeviceProperty("Demo8", "Signature"), "0x1E950D");
    EXPECT_EQ(pack.lookupDevicePropertyAlt("DEMO8", "Signature"), "1E-95-0D");
    EXPECT_EQ(pack.lookupDeviceProperty("DEMO8", "JtagId"), "");
    EXPECT_EQ(SimplePackService(packs.path() / "absent", assembly.path()).getDevices().size(), 0u);
}

TEST_F(SimplePackServiceTest, SeveralFilesAreAssembledIntoOneThatReadsAsTheirSequenceEvenByWritersAtOnce)
{
    // Back-ends (and test processes) share the assembly folder: each writer needs its own partial
    // file, or one rename finds its file gone and that device cannot be resolved.
    const std::string devices = HIL_DEVICES_DIR;
    const SimplePackService pack(devices, assembly.path());
    const std::string target = (assembly.path() / "DEMO32.tdesc").string();
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 4; ++writer)
        writers.emplace_back([&] {
            for (int round = 0; round < 25; ++round)
                if (pack.getDeviceFile("DEMO32") != target)
                    ++failures;
        });
    for (auto& writer : writers)
        writer.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(assembly.path()), {}), 1) << "no partial file left";
    const auto fromAssembly = OrixToolsDeviceFileReader::parseFile(status, target, "DEMO32");
    const auto fromParts = OrixToolsDeviceFileReader::parseFiles(
        status, {devices + "/DEMO32.tdesc", devices + "/DEMO32.peripherals.tdesc"}, "DEMO32");
    EXPECT_EQ(fingerprint(*fromAssembly), fingerprint(*fromParts));
    EXPECT_GT(fingerprint(*fromAssembly).size(), 40u);
}

TEST_F(SimplePackServiceTest, DeviceServiceLoadsTheLibraryAndAsksIt)
{
    packs.write("pack.index", "[TINY]\nfiles = tiny.tdesc\nSignature = 0x42\nalt.Signature = 42\n");
    packs.write("tiny.tdesc", R"(<f><devices><device architecture="ORIX8"/></devices></f>)");
    setenv("HIL_PACK_DIR", packs.path().c_str(), 1);
    fakes::FakeDebugger debugger;
    auto manager = std::make_shared<fakes::FakeFactoryManager>();
    manager->preferences["packmanager.dir"] = HIL_PACK_LIBRARY_DIR;
    debugger.factoryManager = manager;
    const auto service = std::make_shared<DeviceService>(debugger);
    unsetenv("HIL_PACK_DIR");
    EXPECT_EQ(service->getDeviceProperty("tiny", "Signature", false), "0x42");
    EXPECT_EQ(service->getDeviceProperty("tiny", "Signature", true), "42");
    EXPECT_EQ(service->getDeviceInfo(status, "TINY")->getArchitecture(), "ORIX8");
}

} // namespace
} // namespace hil::packs
