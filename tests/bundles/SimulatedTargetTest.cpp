// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "platform/common/Errors.h"

#include "tests/bundles/SimulatedDeviceFixture.h"

namespace hil::simulator {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;
using FailedRun = std::tuple<std::uint64_t, std::uint32_t, int>;

/// The memory and register contexts of a connected simulated device, with what they announce.
class SimulatedTargetTest : public SimulatedDeviceTest {
protected:
    std::shared_ptr<SimulatedMemory> memory(const std::shared_ptr<SimulatedDevice>& device, const std::string& space)
    {
        auto found = std::dynamic_pointer_cast<SimulatedMemory>(memoryService->getContextFromId(device->getId() + "." + space));
        if (!found)
            throw std::runtime_error(device->getId() + " has no memory " + space);
        found->addMemoryChangedHandler([this](const std::shared_ptr<IMemoryContext>&, const MemoryRanges& ranges) {
            changes.push_back(ranges);
        });
        return found;
    }

    /// Reads `count` bytes into a buffer of `fill`; the failed runs go to `errors`.
    Bytes read(IMemoryContext& memory, std::uint64_t address, std::size_t count, MemoryErrorMapPtr* errors = nullptr, std::uint8_t fill = 0)
    {
        Bytes bytes(count, fill);
        MemoryErrorMapPtr none;
        memory.readMemory(address, 1, bytes, 0, static_cast<std::int64_t>(count), 0, nullptr, errors ? *errors : none);
        return bytes;
    }

    /// Writes `bytes`; the failed runs go to `errors`, and without it there must be none.
    void write(IMemoryContext& memory, std::uint64_t address, Bytes bytes, MemoryErrorMapPtr* errors = nullptr)
    {
        MemoryErrorMapPtr none;
        memory.writeMemory(address, 1, bytes, 0, static_cast<std::int64_t>(bytes.size()), 0, nullptr, errors ? *errors : none);
        EXPECT_EQ(none, nullptr);
    }

    /// The failed runs a map reports over [start, start + count), as (address, length, status).
    static std::vector<FailedRun> failedRuns(const MemoryErrorMapPtr& errors, std::uint64_t start, std::uint64_t count)
    {
        std::vector<FailedRun> runs;
        std::uint32_t length = 1;
        for (std::uint64_t address = start; errors && length != 0 && address < start + count; address += length)
            if (const int status = errors->getStatusAt(address, length); status != 0 && length != 0)
                runs.emplace_back(address, length, status);
        return runs;
    }

    bool flashBlank(SimulatedDevice& device)
    {
        boost::json::value info;
        device.getInfo(info, 1);
        return info.at("FlashBlank").as_bool();
    }

    /// The parameters of a "stimulate" with one channel.
    static boost::json::object stimulusOn(const std::string& designator, const std::string& space, int address, int value)
    {
        return boost::json::parse(R"({"Configuration":{"Channels":[{"Designator":")" + designator + R"(","Space":")" + space +
                                  R"(","Address":)" + std::to_string(address) + R"(,"Value":[)" + std::to_string(value) + "]}]}}")
            .as_object();
    }

    std::vector<MemoryRanges> changes;
};

// The memories a device lists, registered and removed with it: TargetServicesTest.
TEST_F(SimulatedTargetTest, EachAddressSpaceIsAMemoryContextDescribedLikeTheSpace)
{
    const auto device = connectedDevice();
    EXPECT_EQ(boost::json::serialize(memory(device, "prog")->getProperties()),
              R"({"ID":"sim-1.DEMO8.prog","ParentID":"sim-1.DEMO8","Name":"prog","StartBound":0,"EndBound":32767,)"
              R"("AddressSize":2,"BigEndian":false,"AccessTypes":["instruction"]})");
    EXPECT_EQ(memory(device, "prog")->getParent(), device);
    const auto properties = device->getProperties();
    EXPECT_EQ(properties.at("MemoryIDs").as_array().size(), 6u);
    EXPECT_EQ(properties.at("Signature"), 0x1E950D);
    EXPECT_EQ(properties.at("Session"), "None");
    EXPECT_EQ(memory(connectedDevice("DEMO32"), "eeprom")->getProperties().at("BigEndian"), true);
}

// Writes that land and are announced: CachedWritesWaitForTheCommitAndReadsSeeThem, TargetServicesTest.
TEST_F(SimulatedTargetTest, ReadOnlySegmentsRefuseWritesWithoutAnnouncingThem)
{
    auto signatures = memory(connectedDevice(), "signatures");
    MemoryErrorMapPtr errors;
    write(*signatures, 0, {0, 0, 0}, &errors);
    EXPECT_THAT(failedRuns(errors, 0, 3), ElementsAre(FailedRun{0, 3, SimulatedMemory::kReadOnly}));
    EXPECT_EQ(read(*signatures, 0, 3), (Bytes{0x1E, 0x95, 0x0D}));
    EXPECT_THAT(changes, IsEmpty());
}

TEST_F(SimulatedTargetTest, BytesOutOfReachAreReportedPerRunAndTheRestIsTransferred)
{
    auto base = memory(connectedDevice("DEMO32"), "base");
    MemoryErrorMapPtr errors;
    // The flash ends at 0x40000; the peripherals start at 0x40000000.
    EXPECT_EQ(read(*base, 0x3FFFE, 4, &errors, 0xAA), (Bytes{0xFF, 0xFF, 0xAA, 0xAA}));
    EXPECT_THAT(failedRuns(errors, 0x3FFFE, 4), ElementsAre(FailedRun{0x40000, 2, SimulatedMemory::kNoMemory}));

    auto data = memory(connectedDevice(), "data");
    write(*data, 0x8FE, {1, 2, 3, 4}, &errors);
    EXPECT_THAT(failedRuns(errors, 0x8FE, 4), ElementsAre(FailedRun{0x900, 2, SimulatedMemory::kOutsideSpace}));
    EXPECT_EQ(read(*data, 0x8FE, 2), (Bytes{1, 2}));
}

TEST_F(SimulatedTargetTest, FillRepeatsThePatternAndTakesSignExtendedAddressesInA32BitSpace)
{
    auto base = memory(connectedDevice("DEMO32"), "base");
    Bytes pattern{0xAB, 0xCD, 0xEF};
    MemoryErrorMapPtr errors;
    base->fillMemory(0xFFFFFFFFE000E000u, 4, pattern, 7, 0, nullptr, errors);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(read(*base, 0xE000E000, 8), (Bytes{0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF, 0xAB, 0x00}));
    EXPECT_THAT(changes, ElementsAre(ElementsAre(MemoryRange{0xE000E000, 7})));
}

TEST_F(SimulatedTargetTest, TransfersThatCannotFitTheirBufferAreThrown)
{
    auto data = memory(connectedDevice(), "data");
    MemoryErrorMapPtr errors;
    Bytes two(2), none;
    EXPECT_THROW(data->readMemory(0, 1, two, 0, -1, 0, nullptr, errors), UsageError);
    EXPECT_THROW(data->readMemory(0, 1, two, 1, 2, 0, nullptr, errors), UsageError);
    EXPECT_THROW(data->writeMemory(0, 1, two, 0, 3, 0, nullptr, errors), UsageError);
    EXPECT_THROW(data->fillMemory(0, 1, none, 4, 0, nullptr, errors), UsageError);
    EXPECT_THROW(data->cacheMemoryRange(0, 0, 0), UsageError);
}

TEST_F(SimulatedTargetTest, CachedWritesWaitForTheCommitAndReadsSeeThem)
{
    auto prog = memory(connectedDevice(), "prog");
    prog->cacheMemoryRange(0x100, 0x100, 0);
    write(*prog, 0xFE, {1, 2, 3, 4});
    // The two bytes outside the cached range went through at once.
    EXPECT_THAT(changes, ElementsAre(ElementsAre(MemoryRange{0xFE, 2})));
    EXPECT_EQ(read(*prog, 0xFE, 4), (Bytes{1, 2, 3, 4}));
    MemoryErrorMapPtr errors;
    prog->commitMemoryCache(nullptr, errors);
    EXPECT_THAT(changes.back(), ElementsAre(MemoryRange{0x100, 2}));
    // Still cached after a commit; ending the caching writes through what it held.
    write(*prog, 0x180, {9});
    EXPECT_EQ(changes.size(), 2u);
    prog->uncacheMemoryRange(0x100, 0x100);
    EXPECT_THAT(changes.back(), ElementsAre(MemoryRange{0x180, 1}));
    write(*prog, 0x181, {8});
    EXPECT_THAT(changes.back(), ElementsAre(MemoryRange{0x181, 1}));
}

TEST_F(SimulatedTargetTest, MemoriesStartAsDescribedAndErasingBlanksTheFlashAndAnnouncesTheErasedRanges)
{
    const auto device = connectedDevice();
    auto prog = memory(device, "prog");
    EXPECT_EQ(read(*prog, 0x7FFE, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(read(*memory(device, "eeprom"), 0, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(read(*memory(device, "data"), 0x100, 2), (Bytes{0x00, 0x00}));
    EXPECT_EQ(read(*memory(device, "signatures"), 0, 3), (Bytes{0x1E, 0x95, 0x0D}));
    EXPECT_TRUE(flashBlank(*device));
    write(*prog, 0x0, {0});
    write(*prog, 0x100, {0});
    EXPECT_FALSE(flashBlank(*device));
    changes.clear();
    device->erase(2, true, 0x0, 1); // the first page only
    EXPECT_THAT(changes, ElementsAre(ElementsAre(MemoryRange{0x0, 0x80})));
    EXPECT_FALSE(flashBlank(*device));
    device->erase(11, true, 0, 0);
    // The boot section lies inside the flash: one range.
    EXPECT_THAT(changes.back(), ElementsAre(MemoryRange{0x0, 0x8000}));
    EXPECT_TRUE(flashBlank(*device));
    boost::json::value flashSize;
    device->getProperty(flashSize, 2);
    EXPECT_EQ(flashSize, 0x8000);
}

// Register writes stored and announced over the wire: TargetServicesTest.
TEST_F(SimulatedTargetTest, CpuRegistersFollowTheArchitectureAndRefuseValuesOfAnotherSize)
{
    const auto device = connectedDevice();
    const auto registers = device->listRegistersContexts();
    ASSERT_EQ(registers.size(), 35u);
    EXPECT_EQ(registers[0]->getId(), "sim-1.DEMO8.R0");
    EXPECT_EQ(registers[31]->getId(), "sim-1.DEMO8.R31");
    // SP and PC after it, of two bytes: CliToolTest.MemoryAndRegisterVerbsAndTransfersOfWhichAnyByteFailed.
    EXPECT_EQ(boost::json::serialize(registers[32]->getProperties()),
              R"({"ID":"sim-1.DEMO8.SREG","ParentID":"sim-1.DEMO8","Name":"SREG","Size":1,)"
              R"("Readable":true,"Writeable":true,"BigEndian":false,"Role":"SREG"})");
    const auto sp = device->registers()[33];
    int announced = 0;
    sp->addRegisterChangedHandler([&](const std::shared_ptr<IRegistersContext>&) { ++announced; });
    sp->setValue({0xFF, 0x08});
    EXPECT_THAT([&] { sp->setValue({0x01}); }, testing::ThrowsMessage<UsageError>("register SP takes 2 bytes, not 1"));
    Bytes value(2);
    sp->getValue(value);
    EXPECT_EQ(value, (Bytes{0xFF, 0x08}));
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(connectedDevice("DEMO32")->listRegistersContexts().size(), 17u);
    EXPECT_TRUE(cpuRegistersOf("UNKNOWN").empty());
}

// A connect registering the target and a disconnect removing it: DeviceTest, TargetServicesTest.
TEST_F(SimulatedTargetTest, AConnectToAnUnknownDeviceFailsByNameAndLeavesTheToolIdle)
{
    tool.setToolProperties({{"DeviceName", "DEMO99"}});
    tool.connect(status);
    EXPECT_THAT(status.getMessage(), HasSubstr("Cannot connect sim-1: No device files were found"));
    EXPECT_EQ(status.getErrorCode(), ErrorCode::NotFound);
    EXPECT_EQ(tool.getProperties().at("State"), "Idle");
    EXPECT_TRUE(deviceService->getChildren(nullptr).empty());
}

TEST_F(SimulatedTargetTest, TheDeviceReportsWhatItDoesWithinItsMessageSettings)
{
    const auto device = connectedDevice();
    const auto messages = std::dynamic_pointer_cast<bundles::TargetMessages>(messageService->getContextFromId("sim-1.DEMO8.messages"));
    ASSERT_NE(messages, nullptr);
    std::vector<std::string> heard;
    messages->addMessageHandler([&](const IStatus& status) { heard.push_back(messages->getSourceName() + ": " + status.getMessage()); });
    device->startSession(status, IDeviceContext::kDebuggingSession, true, nullptr);
    device->erase(1, false, 0, 0);
    device->erase(2, false, 0x100, 2);
    device->endSession();
    EXPECT_THAT(heard, ElementsAre("DEMO8: DebuggingSession started on sim-1.DEMO8", "DEMO8: EEPROM erased on sim-1.DEMO8",
                                   "DEMO8: 2 flash page(s) erased from 0x100 on sim-1.DEMO8",
                                   "DEMO8: DebuggingSession ended on sim-1.DEMO8"));
    heard.clear();
    // Warnings and worse only, under another name; then nothing at all.
    messages->setProperties({{"SeverityThreshold", 2}, {"ContextName", "bench"}});
    device->startSession(status, IDeviceContext::kProgrammingSession, true, nullptr);
    messages->report(Severity::Warning, "hot");
    messages->setProperties({{"ReportingActive", false}});
    messages->report(Severity::Error, "unheard");
    EXPECT_THAT(heard, ElementsAre("bench: hot"));
    EXPECT_THAT([&] { messages->setProperties({{"ContextName", "x"}, {"ReportingActive", "yes"}}); },
                testing::ThrowsMessage<UsageError>("ReportingActive must be true or false"));
    EXPECT_EQ(boost::json::serialize(messages->getProperties()),
              R"({"ID":"sim-1.DEMO8.messages","ParentID":"sim-1.DEMO8","ContextName":"bench","ReportingActive":false,)"
              R"("SeverityThreshold":2})");
}

TEST_F(SimulatedTargetTest, AStimulusDrivesItsValueIntoMemoryUntilReleasedAndOneThatCannotBeMadeOrPlacedIsAClearError)
{
    const auto device = connectedDevice();
    const auto stimulate = [this](const boost::json::object& parameters) {
        Status result;
        tool.specialOperation(result, "stimulate", parameters);
        return result.getMessage();
    };
    EXPECT_THAT(stimulate({}), HasSubstr("stimulate needs"));
    EXPECT_THAT(stimulate({{"Configuration", {{"Channels", "none"}}}}), HasSubstr("No com.velmora.hil.simulator.stimuli provider"));
    // Designated by the device id until renamed; this space does not exist.
    EXPECT_THAT(stimulate(stimulusOn("sim-1.DEMO8", "nowhere", 0, 1)), HasSubstr("No device port takes"));
    EXPECT_TRUE(stimuliService->getStimuliProviders().empty());
    EXPECT_EQ(stimulate(stimulusOn("sim-1.DEMO8", "data", 0x100, 7)), "");
    tool.specialOperation(status, "release", {});

    auto data = memory(device, "data");
    write(*data, 0x23, {0x0F});
    changes.clear();
    device->getStimuliPort()->assignDesignator("bench");
    const auto stimulus = stimulusOn("bench", "data", 0x23, 0xA5);
    ASSERT_EQ(stimulate(stimulus), "");
    EXPECT_EQ(read(*data, 0x23, 1), (Bytes{0xA5}));
    EXPECT_THAT(changes, ElementsAre(ElementsAre(MemoryRange{0x23, 1})));
    EXPECT_EQ(stimuliService->getStimuliProviders().size(), 1u);
    // The port holds one channel: a second provider for it is refused and not kept.
    EXPECT_THAT(stimulate(stimulus), HasSubstr("No device port takes the channels"));
    EXPECT_EQ(stimuliService->getStimuliProviders().size(), 1u);
    tool.specialOperation(status, "release", {});
    EXPECT_EQ(read(*data, 0x23, 1), (Bytes{0x0F}));
    EXPECT_TRUE(stimuliService->getStimuliProviders().empty());
}

} // namespace
} // namespace hil::simulator
