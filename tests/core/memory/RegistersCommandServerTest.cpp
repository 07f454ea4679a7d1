// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/memory/RegistersCommandServer.h"
#include "core/memory/RegistersService.h"
#include "tests/fakes/FakeMemory.h"
#include "tests/fakes/ServedService.h"

namespace hil {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;

const std::string kCode3 = R"({"Code":3})";
const std::string kCode15 = R"({"Code":15})";

using Bytes = std::vector<std::uint8_t>;

class RegistersCommandServerTest : public testing::Test, protected fakes::ServedService<RegistersService, RegistersCommandServer> {
protected:
    RegistersCommandServerTest()
    {
        ContextList all{r2, r4};
        service->addContexts(all);
        r2->value = {0x11, 0x22};
        r4->value = {0xA0, 0xA1, 0xA2, 0xA3};
    }

    std::shared_ptr<fakes::FakeRegister> r2 = std::make_shared<fakes::FakeRegister>("r2", 2);
    std::shared_ptr<fakes::FakeRegister> r4 = std::make_shared<fakes::FakeRegister>("r4", 4);
};

TEST_F(RegistersCommandServerTest, GetAndSetWholeValues)
{
    EXPECT_THAT(run("get", {R"("r4")"}), ElementsAre("", R"("oKGiow==")"));
    EXPECT_THAT(run("set", {R"("r2")", R"("qrs=")"}), ElementsAre(""));
    EXPECT_THAT(r2->writes, ElementsAre(Bytes{0xAA, 0xBB}));
    // A value shorter than the register reaches the context as it was sent.
    EXPECT_THAT(run("set", {R"("r4")", R"("AQ==")"}), ElementsAre(""));
    EXPECT_THAT(r4->writes, ElementsAre(Bytes{0x01}));
}

TEST_F(RegistersCommandServerTest, SetNamesItselfSetWhenItsArgumentsMiscount)
{
    EXPECT_THAT(run("set", {R"("r2")", R"("qrs=")", "1"}),
                ElementsAre(R"({"Code":3,"Service":"Registers","Format":"Invalid number of arguments, (3), passed to Set )"
                            R"(command. argument list was \", \"r2\", \"qrs=\", 1\".","AltOrg":"libtcf"})"));
    EXPECT_THAT(run("get", {R"("r2")", R"("r2")"}), ElementsAre(kCode3));
    EXPECT_THAT(r2->writes, IsEmpty());
}

TEST_F(RegistersCommandServerTest, GetmConcatenatesSlicesInListOrderReadingTwiceWhenNamedTwice)
{
    EXPECT_THAT(run("getm", {R"([["r4",2,2],["r2",0,1],["r4",0,1]])"}), ElementsAre("", R"("oqMRoA==")"));
    EXPECT_EQ(r4->reads, 2);
}

TEST_F(RegistersCommandServerTest, SetmWritesWholeRegistersWithZeroOutsideTheSliceInListOrder)
{
    EXPECT_THAT(run("setm", {R"([["r2",1,1],["r4",0,2],["r4",2,2]])", R"("/wECAwQ=")"}), ElementsAre(""));
    EXPECT_THAT(r2->writes, ElementsAre(Bytes{0x00, 0xFF}));
    // Named twice, written twice; the second write wins.
    EXPECT_THAT(r4->writes, ElementsAre(Bytes{0x01, 0x02, 0x00, 0x00}, Bytes{0x00, 0x00, 0x03, 0x04}));
    EXPECT_EQ(r4->value, (Bytes{0x00, 0x00, 0x03, 0x04}));
    // A failure in the middle leaves the earlier registers written.
    r4->failWrites = true;
    EXPECT_THAT(run("setm", {R"([["r2",0,1],["r4",0,1]])", R"("AQI=")"}),
                ElementsAre(R"({"Code":1,"Service":"Registers","Format":"register r4 refuses writes"})"));
    EXPECT_THAT(r2->writes, ElementsAre(Bytes{0x00, 0xFF}, Bytes{0x01, 0x00}));
}

TEST_F(RegistersCommandServerTest, LocationsAndDataAreCheckedBeforeAnyRegisterIsTouched)
{
    EXPECT_THAT(run("getm", {"[]"}), ElementsAre("", R"("")"));
    EXPECT_THAT(run("setm", {"[]", R"("")"}), ElementsAre(""));
    EXPECT_THAT(run("setm", {R"([["r4",0,2]])", R"("AQID")"}), ElementsAre(kCode15)) << "data longer than the slices";
    EXPECT_THAT(run("setm", {R"([["r4",0,2]])", R"("AQ==")"}), ElementsAre(kCode15)) << "data shorter than the slices";
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        {"end beyond the register", R"([["r2",0,1],["r4",3,2]])", kCode15},
        {"negative offset", R"([["r4",-1,1]])", kCode15},
        {"negative size", R"([["r4",2,-1]])", kCode15},
        {"end overflows int", R"([["r4",2147483647,2]])", kCode15},
        {"two values", R"([["r2",0,1],["r4",0]])", kCode3},
        {"four values", R"([["r4",0,1,1]])", kCode3},
        {"not an array", R"(["r4"])", kCode3},
        {"offset as text", R"([["r4","0",1]])", kCode3},
        {"list not JSON", R"([["r4",0,1])", kCode3},
        {"later id unknown", R"([["r2",0,1],["rx",0,1]])", R"({"Code":16,"Format":"Invalid context rx,","AltOrg":"libtcf"})"}};
    for (const auto& [name, locations, reply] : cases) {
        EXPECT_THAT(run("getm", {locations}), ElementsAre(reply)) << name;
        EXPECT_THAT(run("setm", {locations, R"("AAAAAAAA")"}), ElementsAre(reply)) << name;
    }
    EXPECT_EQ(r2->reads + r4->reads, 0);
    EXPECT_THAT(r2->writes, IsEmpty());
    EXPECT_THAT(r4->writes, IsEmpty());
}

TEST_F(RegistersCommandServerTest, GetChildrenListsTheParentsRegistersInItsOrder)
{
    auto parent = std::make_shared<fakes::FakeParent>();
    parent->registers = {r4, r2};
    debugger.parents.addParent("dev", parent);
    EXPECT_THAT(run("getChildren", {R"("dev")"}), ElementsAre("", R"(["r4","r2"])"));
    EXPECT_THAT(run("getChildren", {R"("")"}), ElementsAre("", R"(["r2","r4"])"));
}

TEST_F(RegistersCommandServerTest, RegisterReportingANegativeSizeIsRefused)
{
    auto broken = std::make_shared<fakes::FakeRegister>("broken", -4);
    service->addContext(broken);
    EXPECT_THAT(run("get", {R"("broken")"}), ElementsAre(testing::HasSubstr("reports the size -4")));
}

} // namespace
} // namespace hil
