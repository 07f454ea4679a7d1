// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/memory/MemoryCommandServer.h"
#include "core/memory/MemoryService.h"
#include "tests/fakes/FakeMemory.h"
#include "tests/fakes/LogRecorder.h"
#include "tests/fakes/ServedService.h"

namespace hil {
namespace {

using testing::_;
using testing::DoAll;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Invoke;
using testing::SetArgReferee;
using testing::StrictMock;

const std::string kCode3 = R"({"Code":3})";

class MemoryCommandServerTest : public testing::Test, protected fakes::ServedService<MemoryService, MemoryCommandServer> {
protected:
    MemoryCommandServerTest() { service->addContext(memory); }

    // Strict: a call the test did not expect fails it, so refusals prove the target untouched.
    std::shared_ptr<StrictMock<fakes::FakeMemoryContext>> memory =
        std::make_shared<StrictMock<fakes::FakeMemoryContext>>("mem");
};

TEST_F(MemoryCommandServerTest, GetRepliesDataFirstThenErrorThenRangeErrorsAndReadsItsIntegersWhole)
{
    EXPECT_CALL(*memory, readMemory(0u, 1, _, 0u, 0, 0, nullptr, _));
    EXPECT_THAT(run("get", {R"("mem")", "0", "1", "0", "0"}), ElementsAre(R"("")", "", "[]"));
    EXPECT_CALL(*memory, readMemory(0x1000u, 2, _, 0u, 3, 7, nullptr, _))
        .WillOnce(Invoke([](auto, int, std::vector<std::uint8_t>& bytes, auto, auto, int, auto, MemoryErrorMapPtr& errors) {
            // The buffer comes zero-filled and sized to the count.
            EXPECT_EQ(bytes, std::vector<std::uint8_t>(3, 0));
            bytes = {0x01, 0xFF, 0x80};
            errors = std::make_shared<fakes::FakeErrorMap>(0x1000, std::vector<std::pair<int, std::uint32_t>>{{0, 2}, {5, 1}});
        }));
    EXPECT_THAT(run("get", {R"("mem")", "4096", "2", "3", "7"}),
                ElementsAre(R"("Af+A")", "", R"([{"addr":4098,"size":1,"stat":5,"msg":""}])"));
    // Addresses keep all 64 bits, the other integers their low 32: 2^32 + 1 bytes in word size
    // 2^32 + 4 and mode 2^32 + 2 are one byte, words of 4, mode 2.
    EXPECT_CALL(*memory, readMemory(0xFFFFFFFFFFFFFFF0u, 4, _, 0u, 1, 2, nullptr, _));
    EXPECT_THAT(run("get", {R"("mem")", "18446744073709551600", "4294967300", "4294967297", "4294967298"}),
                ElementsAre(R"("AA==")", "", "[]"));
}

TEST_F(MemoryCommandServerTest, SetAndFillHandTheirBytesOverAndAFailingTransferBecomesTheReplysError)
{
    EXPECT_CALL(*memory, writeMemory(0x20u, 1, ElementsAre(0xDE, 0xAD), 0u, 2, 0, nullptr, _));
    EXPECT_THAT(run("set", {R"("mem")", "32", "1", "2", "0", R"("3q0=")"}), ElementsAre("", "[]"));
    EXPECT_CALL(*memory, writeMemory(0x0u, _, _, _, _, _, _, _)).WillOnce(testing::Throw(std::runtime_error("bus fault")));
    EXPECT_THAT(run("set", {R"("mem")", "0", "1", "1", "0", R"("AA==")"}),
                ElementsAre(R"({"Code":1,"Service":"Memory","Format":"bus fault"})"));
    // 2^31 is read as -2^31 and widened with its sign; the pattern is the standard fill value.
    EXPECT_CALL(*memory, fillMemory(0xFFFFFFFF80000000u, 4, ElementsAre(0xAA, 0x55), 16, 0, nullptr, _));
    EXPECT_THAT(run("fill", {R"("mem")", "2147483648", "4", "16", "0", "[170,85]"}), ElementsAre("", "[]"));
}

TEST_F(MemoryCommandServerTest, CacheCommandsReadOnlyTheArgumentsTheyUse)
{
    testing::InSequence order;
    EXPECT_CALL(*memory, cacheMemoryRange(0x100u, 64, 3));
    EXPECT_CALL(*memory, uncacheMemoryRange(0x100u, -1));
    EXPECT_CALL(*memory, commitMemoryCache(nullptr, _)).WillOnce(SetArgReferee<1>(
        std::make_shared<fakes::FakeErrorMap>(0, std::vector<std::pair<int, std::uint32_t>>{{9, 4}})));
    EXPECT_THAT(run("cacheRange", {R"("mem")", "256", "64", "3"}), ElementsAre(""));
    // The fourth "uncacheRange" argument and the last five of "commitCache" are counted, never read.
    EXPECT_THAT(run("uncacheRange", {R"("mem")", "256", "-1", "not json"}), ElementsAre(""));
    // A commit reports no range errors, whatever the map says.
    EXPECT_THAT(run("commitCache", {R"("mem")", "x", "x", "x", "x", "x"}), ElementsAre(""));
}

using Refusal = fakes::CommandCase;

class MemoryCommandServerRefuses : public MemoryCommandServerTest, public testing::WithParamInterface<Refusal> {};

TEST_P(MemoryCommandServerRefuses, BeforeTheContextIsCalled)
{
    debugger.settings[MemoryCommandServer::kTransferLimitSetting] = "1024";
    server = std::make_unique<MemoryCommandServer>(debugger, service);
    service->addContext(std::make_shared<fakes::FakeRegister>("reg", 1));
    EXPECT_THAT(run(GetParam().command, GetParam().arguments), ElementsAre(GetParam().reply));
}

const std::string kInvalidEmpty = R"({"Code":16,"Format":"Invalid context ,","AltOrg":"libtcf"})";

INSTANTIATE_TEST_SUITE_P(
    Commands, MemoryCommandServerRefuses,
    testing::Values(
        Refusal{"GetFourArguments", "get", {R"("mem")", "0", "1", "1"}, kCode3},
        Refusal{"GetAddressAsText", "get", {R"("mem")", R"("0")", "1", "1", "0"}, kCode3},
        Refusal{"GetRealCount", "get", {R"("mem")", "0", "1", "1.0", "0"}, kCode3},
        Refusal{"GetNegativeCount", "get", {R"("mem")", "0", "1", "-1", "0"},
                R"({"Code":3,"Service":"Memory","Format":"Byte count -1 is negative"})"},
        Refusal{"GetAboveTheLimit", "get", {R"("mem")", "0", "1", "1025", "0"},
                R"({"Code":3,"Service":"Memory","Format":"Byte count 1025 is above the limit of 1024 bytes"})"},
        Refusal{"SetOneByteShort", "set", {R"("mem")", "0", "1", "3", "0", R"("3q0=")"}, kCode3},
        Refusal{"SetOneByteOver", "set", {R"("mem")", "0", "1", "1", "0", R"("3q0=")"}, kCode3},
        Refusal{"SetNotBase64", "set", {R"("mem")", "0", "1", "0", "0", R"("*")"}, kCode3},
        Refusal{"FillFiveArguments", "fill", {R"("mem")", "0", "1", "4", "0"}, kCode3},
        Refusal{"FillEmptyPattern", "fill", {R"("mem")", "0", "1", "4", "0", "[]"}, kCode3},
        Refusal{"FillPatternNotBytes", "fill", {R"("mem")", "0", "1", "4", "0", "[256]"}, kCode3},
        Refusal{"FillPatternNotArray", "fill", {R"("mem")", "0", "1", "4", "0", "170"}, kCode3},
        Refusal{"CacheThreeArguments", "cacheRange", {R"("mem")", "0", "4"}, kCode3},
        Refusal{"CacheFlagsNotInteger", "cacheRange", {R"("mem")", "0", "4", "true"}, kCode3},
        Refusal{"UncacheThreeArguments", "uncacheRange", {R"("mem")", "0", "4"}, kCode3},
        Refusal{"CommitOneArgument", "commitCache", {R"("mem")"}, kCode3},
        Refusal{"UnknownId", "get", {R"("nothing")", "0", "1", "1", "0"},
                R"({"Code":16,"Format":"Invalid context nothing,","AltOrg":"libtcf"})"},
        Refusal{"EmptyId", "commitCache", {R"("")", "0", "0", "0", "0", "0"}, kInvalidEmpty},
        Refusal{"ContextOfAnotherKindRegisteredHere", "get", {R"("reg")", "0", "1", "1", "0"},
                R"({"Code":16,"Format":"Invalid context reg,","AltOrg":"libtcf"})"}),
    [](const auto& info) { return info.param.name; });

TEST_F(MemoryCommandServerTest, UnreadableTransferLimitSettingKeepsTheDefault)
{
    fakes::LogRecorder log;
    debugger.settings[MemoryCommandServer::kTransferLimitSetting] = "lots";
    server = std::make_unique<MemoryCommandServer>(debugger, service);
    EXPECT_THAT(log.lines(), testing::Contains(HasSubstr("'lots' is not a byte count")));
    EXPECT_CALL(*memory, readMemory(_, _, _, _, 1 << 20, _, _, _));
    EXPECT_EQ(run("get", {R"("mem")", "0", "1", "1048576", "0"}).size(), 3u);
}

TEST(RangeErrorList, ListsTheFailedRunsOfTheRange)
{
    struct Case {
        std::string name;
        std::uint64_t start;
        std::int64_t count;
        std::vector<std::pair<int, std::uint32_t>> runs;
        std::string list;
        int lookups;
    };
    const std::vector<Case> cases{
        {"all good", 0, 8, {{0, 8}}, "[]", 1},
        {"length zero ends at once", 0, 8, {}, "[]", 1},
        {"empty range", 0, 0, {{7, 8}}, "[]", 0},
        {"runs in order", 16, 10, {{1, 2}, {0, 3}, {-2, 5}},
         R"([{"addr":16,"size":2,"stat":1,"msg":""},{"addr":21,"size":5,"stat":-2,"msg":""}])", 3},
        {"run past the end still counted", 0, 4, {{0, 2}, {3, 10}}, R"([{"addr":2,"size":10,"stat":3,"msg":""}])", 2},
        {"range at the top of the address space", 0xFFFFFFFFFFFFFFF0u, 16, {{0, 8}, {4, 8}},
         R"([{"addr":18446744073709551608,"size":8,"stat":4,"msg":""}])", 2}};
    for (const auto& c : cases) {
        const auto map = std::make_shared<fakes::FakeErrorMap>(c.start, c.runs);
        EXPECT_EQ(MemoryCommandServer::rangeErrorList(map, c.start, c.count), c.list) << c.name;
        EXPECT_EQ(map->calls, c.lookups) << c.name;
    }
    EXPECT_EQ(MemoryCommandServer::rangeErrorList(nullptr, 0, 100), "[]") << "without a map";
}

TEST_F(MemoryCommandServerTest, GetChildrenAsksTheParentLookupFirst)
{
    auto parent = std::make_shared<fakes::FakeParent>();
    parent->memories = {std::make_shared<fakes::FakeMemoryContext>("z.prog"), std::make_shared<fakes::FakeMemoryContext>("a.data")};
    debugger.parents.addParent("dev", parent);
    // The parent's own order, not the id order.
    EXPECT_THAT(run("getChildren", {R"("dev")"}), ElementsAre("", R"(["z.prog","a.data"])"));
    // An id the lookup does not know gets the registry's generic answer.
    EXPECT_THAT(run("getChildren", {R"("")"}), ElementsAre("", R"(["mem"])"));
    EXPECT_THAT(run("getChildren", {R"("nothing")"}),
                ElementsAre(R"({"Code":16,"Format":"Invalid context nothing,","AltOrg":"libtcf"})"));
    EXPECT_THAT(run("getChildren", {"1"}), ElementsAre(kCode3));
}

TEST_F(MemoryCommandServerTest, MemoryChangedCarriesEveryRangeInOrderUntilTheServerIsGone)
{
    memory->memoryChanged(memory, {{0x10, 4}, {0xFFFFFFFFFFFFFFFFu, 1}});
    memory->memoryChanged(memory, {});
    server.reset();
    memory->memoryChanged(memory, {{0, 1}});
    // Both numbers travel as signed 64-bit integers.
    EXPECT_THAT(events.lines("memoryChanged"), ElementsAre(R"(Memory memoryChanged "mem" [{"addr":16,"size":4},{"addr":-1,"size":1}])",
                                                           R"(Memory memoryChanged "mem" [])"));
}

} // namespace
} // namespace hil
