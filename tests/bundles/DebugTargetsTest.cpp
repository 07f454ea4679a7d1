// SPDX-License-Identifier: Apache-2.0
// The debugging services' shared state against a device with run control that runs nothing: what
// is planted where, whose breakpoints they are, and what a stop tells. The flows against a real
// core are the e2e DebuggingTest's.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "bundles/debugging/DebugTargets.h"
#include "core/device/DeviceService.h"
#include "core/frame/ErrorDescr.h"
#include "tests/fakes/Eventually.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/FakeDevices.h"
#include "tests/fakes/RecordingEventSink.h"

namespace hil::debugging {
namespace {

namespace json = boost::json;
using testing::ElementsAre;
using testing::HasSubstr;
using Call = fakes::FakeRunControlDevice::StopPointCall;
constexpr auto kSoftware = StopPointKind::SoftwareBreakpoint;
constexpr auto kHardware = StopPointKind::HardwareBreakpoint;

BreakpointRequest request(const std::string& text) { return BreakpointRequest::read(json::parse(text)); }

struct ReadCase {
    const char* properties;
    int problemCode;
    StopPointKind kind;
    std::uint64_t address;
    std::uint64_t size;
};

TEST(BreakpointRequest, ReadsPlacesKindsAndSizesAndNamesWhatItCannotPlant)
{
    const ReadCase cases[] = {
        {R"({"ID":"a","Location":"0x400"})", 0, kSoftware, 0x400, 2},
        {R"({"ID":"a","Location":" 1024 ","BreakpointType":"Hardware"})", 0, kHardware, 0x400, 2},
        {R"({"ID":"a","Location":1024,"BreakpointType":"Auto"})", 0, kSoftware, 0x400, 2},
        {R"({"ID":"a","Location":"0x20000000","AccessMode":1,"Size":1})", 0, StopPointKind::ReadWatchpoint, 0x20000000, 1},
        {R"({"ID":"a","Location":"0x20000000","AccessMode":2})", 0, StopPointKind::WriteWatchpoint, 0x20000000, 4},
        {R"({"ID":"a","Location":"0x20000000","AccessMode":3,"Size":8})", 0, StopPointKind::AccessWatchpoint, 0x20000000, 8},
        {R"({"ID":"a","Location":"main"})", 18, kSoftware, 0, 2},
        {R"({"ID":"a","Location":"0x"})", 18, kSoftware, 0, 2},
        {R"({"ID":"a","Location":-4})", 18, kSoftware, 0, 2},
        {R"({"ID":"a","File":"main.c","Line":3})", 18, kSoftware, 0, 2},
        {R"({"ID":"a","Location":"0x20000000","AccessMode":2,"Size":3})", 15, StopPointKind::WriteWatchpoint, 0x20000000, 4},
        {R"({"ID":"a","Location":"0x20000002","AccessMode":2,"Size":4})", 15, StopPointKind::WriteWatchpoint, 0x20000002, 4},
        {R"({"ID":"a","Location":"0x400","AccessMode":8})", 23, kSoftware, 0x400, 2},
        {R"({"ID":"a","Location":"0x400","Condition":"x > 1"})", 23, kSoftware, 0, 2},
        {R"({"ID":"a","Location":"0x400","Condition":""})", 0, kSoftware, 0x400, 2},
        {R"({"ID":"a","Location":"0x400","Enabled":"yes"})", 3, kSoftware, 0, 2},
        {R"({"ID":"a","Location":"0x400","IgnoreCount":-1})", 3, kSoftware, 0, 2},
        {R"({"ID":"a","Location":"0x400","BreakpointType":"Flash"})", 3, kSoftware, 0x400, 2},
    };
    for (const auto& c : cases) {
        const auto read = request(c.properties);
        EXPECT_EQ(read.problemCode, c.problemCode) << c.properties << ": " << read.problem;
        EXPECT_EQ(read.problem.empty(), c.problemCode == 0) << c.properties;
        EXPECT_EQ(read.kind, c.kind) << c.properties;
        EXPECT_EQ(read.address, c.address) << c.properties;
        EXPECT_EQ(read.size, c.size) << c.properties;
    }
    EXPECT_THROW(request(R"({"Location":"0x400"})"), ErrorDescr);
    EXPECT_THROW(request(R"(["ID"])"), ErrorDescr);
}

class DebugTargetsTest : public testing::Test {
protected:
    void SetUp() override
    {
        debugger.addService(devices);
        targets = DebugTargets::of(debugger);
        devices->addContext(device);
        ASSERT_TRUE(fakes::eventually([&] { return targets->targetIds().size() == 1; }));
    }

    /// The events of `name` sent so far, each as its arguments joined by spaces.
    std::vector<std::string> told(const std::string& name)
    {
        std::vector<std::string> found;
        for (const auto& event : recorder.eventsNamed(name)) {
            std::string line;
            for (const auto& argument : event.arguments)
                line += (line.empty() ? "" : " ") + argument;
            found.push_back(line);
        }
        return found;
    }

    fakes::ScopedEventRecorder recorder;
    fakes::FakeDebugger debugger;
    std::shared_ptr<DeviceService> devices = std::make_shared<DeviceService>(debugger);
    std::shared_ptr<fakes::FakeRunControlDevice> device = std::make_shared<fakes::FakeRunControlDevice>("tool.dev");
    std::shared_ptr<DebugTargets> targets;
};

TEST_F(DebugTargetsTest, PlantsEachPlaceOnceAndKeepsEveryClientsOwnBreakpoints)
{
    targets->setTable(1, {request(R"({"ID":"a","Enabled":true,"Location":"0x400"})"),
                          request(R"({"ID":"b","Enabled":true,"Location":"0x400"})"),
                          request(R"({"ID":"c","Enabled":true,"Location":"0x500"})")});
    targets->add(2, request(R"({"ID":"b","Enabled":true,"Location":"0x400"})"));
    // Client 1's new table drops c, and its b, which client 2 still holds.
    targets->setTable(1, {request(R"({"ID":"a","Enabled":true,"Location":"0x400"})")});
    EXPECT_THAT(targets->breakpointIds(), ElementsAre("a", "b"));
    targets->remove(1, {"a", "b", "nothing"});
    EXPECT_THAT(targets->breakpointIds(), ElementsAre("b"));
    targets->enable({"b"}, false);
    targets->enable({"b"}, true);
    targets->forgetClient(2);
    EXPECT_THAT(targets->breakpointIds(), ElementsAre());
    EXPECT_THAT(device->stopPointCalls(),
                ElementsAre(Call{kSoftware, 0x400, true}, Call{kSoftware, 0x500, true}, Call{kSoftware, 0x500, false},
                            Call{kSoftware, 0x400, false}, Call{kSoftware, 0x400, true}, Call{kSoftware, 0x400, false}));
    EXPECT_THAT(told("contextRemoved"), ElementsAre(R"(["c"])", R"(["a"])", R"(["b"])"));

    // A target that comes later gets the breakpoints that apply to it.
    targets->add(3, request(R"({"ID":"late","Enabled":true,"Location":"0x600","ContextIds":["tool.second"]})"));
    const auto second = std::make_shared<fakes::FakeRunControlDevice>("tool.second");
    devices->addContext(second);
    EXPECT_TRUE(fakes::eventually([&] { return !second->stopPointCalls().empty(); }));
    EXPECT_THAT(second->stopPointCalls(), ElementsAre(Call{kSoftware, 0x600, true}));
    EXPECT_EQ(device->stopPointCalls().size(), 6u) << "late is for the second target only";
}

TEST_F(DebugTargetsTest, AStopNamesTheBreakpointsThatStoppedItAndLetsIgnoredHitsPass)
{
    targets->add(1, request(R"({"ID":"twice","Enabled":true,"Location":"0x400","IgnoreCount":1})"));
    targets->add(1, request(R"({"ID":"once","Enabled":true,"Location":"0x400","Temporary":true})"));
    targets->add(1, request(R"({"ID":"later","Enabled":true,"Location":"0x500","IgnoreCount":5})"));
    device->resume();
    device->stop({StopReason::Breakpoint, 0x401, {}, 5, "breakpoint"});
    ASSERT_TRUE(fakes::eventually([&] { return told("contextRemoved").size() == 1; }));
    EXPECT_THAT(told("contextSuspended"), ElementsAre(R"("tool.dev" 1024 "Breakpoint" {"Signal":5,"SignalDescription":"breakpoint","BPs":["once"]})"));
    EXPECT_THAT(told("contextRemoved"), ElementsAre(R"(["once"])"));

    // A hit every breakpoint there ignores: the target goes on, and nobody hears of a stop.
    device->resume();
    const int resumes = device->resumes();
    device->stop({StopReason::Breakpoint, 0x500, {}, 5, "breakpoint"});
    EXPECT_TRUE(fakes::eventually([&] { return device->resumes() == resumes + 1; }));
    EXPECT_THAT(targets->breakpointStatus("later").at("Instances").at(0).at("HitCount"), 1);
    EXPECT_EQ(told("contextSuspended").size(), 1u);
    EXPECT_EQ(told("contextResumed").size(), 2u) << "the quiet resume is not told";
    EXPECT_TRUE(targets->state("tool.dev").suspended == false);
}

TEST_F(DebugTargetsTest, BadOrRefusedBreakpointsOfATableAreKeptWithTheirReasonsAndARefusedKindIsTakenAsTheOther)
{
    device->refuse(kSoftware);
    device->refuseAddress(0x10000000);
    targets->setTable(1, {request(R"({"ID":"sym","Enabled":true,"Location":"main"})"),
                          request(R"({"ID":"ok","Enabled":true,"Location":"0x400"})"),
                          request(R"({"ID":"far","Enabled":true,"Location":"0x10000000"})")});
    EXPECT_THAT(json::serialize(targets->breakpointStatus("sym")), HasSubstr("is not an address"));
    // An address the target refuses: the breakpoint stays, its instance tells the target's words.
    EXPECT_EQ(targets->breakpointStatus("far").at("Instances").at(0).at("Error"),
              "Setting a stop point at 268435456 failed: error 0x0e");
    EXPECT_EQ(targets->breakpointStatus("ok").at("Instances").at(0).at("BreakpointType"), "Hardware");
    try {
        targets->add(1, request(R"({"ID":"sym2","Enabled":true,"Location":"main"})"));
        ADD_FAILURE() << "a single breakpoint with no address is refused";
    } catch (ErrorDescr& error) {
        EXPECT_EQ(error.code, 18);
    }
    // Removing takes away the kind that was planted.
    targets->remove(1, {"ok"});
    EXPECT_EQ(device->stopPointCalls().back(), (Call{kHardware, 0x400, false}));
}

} // namespace
} // namespace hil::debugging
