// SPDX-License-Identifier: Apache-2.0
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "core/frame/ServiceBase.h"
#include "tests/fakes/FakeContext.h"
#include "tests/fakes/FakeDebugger.h"
#include "tests/fakes/LogRecorder.h"

namespace hil {
namespace {

using fakes::makeContext;
using testing::ElementsAre;

/// Records what the registry's signals carry and which contexts cleanup hands on.
class RecordingService : public ServiceBase<IServiceBase> {
public:
    explicit RecordingService(IOrixDebugger& debugger) : ServiceBase(debugger, "Test")
    {
        addContextsAddedHandler([this](ContextList& list) { added.push_back(ids(list)); });
        addContextsRemovedHandler([this](ContextList& list) { removed.push_back(ids(list)); });
    }
    void cleanupContext(const ContextPtr& context) override { cleanedUp.push_back(context->getId()); }

    static std::vector<std::string> ids(const ContextList& list)
    {
        std::vector<std::string> result;
        for (const auto& context : list)
            result.push_back(context ? context->getId() : "<null>");
        return result;
    }

    std::vector<std::vector<std::string>> added, removed;
    std::vector<std::string> cleanedUp;
};

class ServiceBaseTest : public testing::Test {
protected:
    fakes::FakeDebugger debugger;
    std::shared_ptr<RecordingService> service = std::make_shared<RecordingService>(debugger);
};

TEST_F(ServiceBaseTest, AddAndRemoveSignalWhatTheyAreGivenAndADuplicateIdKeepsTheFirst)
{
    ContextList none;
    service->addContexts(none);
    service->removeContexts(none);
    auto first = makeContext("a");
    service->addContext(first);
    service->addContext(makeContext("a"));
    service->dumpContexts();
    EXPECT_EQ(service->getContextFromId("a"), first);
    EXPECT_THAT(service->added, ElementsAre(ElementsAre(), ElementsAre("a"), ElementsAre("a"))) << "an empty add signals too";
    EXPECT_TRUE(service->removed.empty()) << "an empty remove or a dump signalled";
    // A remove erases whatever is registered under the id, and skips nulls.
    ContextList toRemove{nullptr, makeContext("a")};
    service->removeContexts(toRemove);
    EXPECT_EQ(service->getContextFromId("a"), nullptr);
    EXPECT_THAT(service->removed, ElementsAre(ElementsAre("<null>", "a")));
}

TEST_F(ServiceBaseTest, ChildrenMatchByParentIdInByteOrder)
{
    auto root = makeContext("dev");
    auto otherRoot = makeContext("Dev");
    auto sameIdAsRoot = makeContext("dev"); // a different object with the parent's id
    auto orphan = makeContext("a", otherRoot);
    ContextList all{root, otherRoot, makeContext("m2", root), makeContext("m10", sameIdAsRoot), makeContext("m1", root),
                    orphan};
    service->addContexts(all);
    EXPECT_THAT(RecordingService::ids(service->getChildren(nullptr)), ElementsAre("Dev", "dev"));
    EXPECT_THAT(RecordingService::ids(service->getChildren(root)), ElementsAre("m1", "m10", "m2"));
    EXPECT_TRUE(service->getChildren(makeContext("none")).empty());
    // Its parent gone, a context answers no parent and is listed with the roots, in id order.
    service->removeContext(otherRoot);
    orphan->loseParent();
    EXPECT_THAT(RecordingService::ids(service->getChildren(nullptr)), ElementsAre("a", "dev"));
    EXPECT_TRUE(service->getChildren(otherRoot).empty());
}

TEST_F(ServiceBaseTest, OwnerIdComesFromTheCallingThreadsSlot)
{
    debugger.getCurrentOwnerSlot().set(5);
    auto mine = makeContext("mine");
    service->addContext(mine);
    EXPECT_EQ(mine->getOwnerId(), 5);

    auto fromFreshThread = makeContext("fresh");
    std::thread([&] { service->addContext(fromFreshThread); }).join();
    EXPECT_EQ(fromFreshThread->getOwnerId(), 0);
}

TEST_F(ServiceBaseTest, CleanupUnregistersOnlyThatOwnersContextsWithoutSignalThenCleansUpInIdOrder)
{
    fakes::LogRecorder log;
    debugger.getCurrentOwnerSlot().set(1);
    ContextList ofOne{makeContext("b"), makeContext("a")};
    service->addContexts(ofOne);
    debugger.getCurrentOwnerSlot().set(2);
    service->addContext(makeContext("c"));
    ofOne.clear();

    service->cleanup(1);
    EXPECT_THAT(service->cleanedUp, ElementsAre("a", "b"));
    EXPECT_NE(service->getContextFromId("c"), nullptr);
    EXPECT_EQ(service->getContextFromId("a"), nullptr);
    EXPECT_TRUE(service->removed.empty());
    // The count includes the registry's own reference, the only one left here.
    EXPECT_THAT(log.lines(), ElementsAre("svc|Unregistering orphan a refcount 1", "svc|Unregistering orphan b refcount 1"));
    // An owner with nothing registered changes nothing.
    service->cleanup(99);
    EXPECT_NE(service->getContextFromId("c"), nullptr);
    EXPECT_THAT(service->cleanedUp, ElementsAre("a", "b"));
}

TEST_F(ServiceBaseTest, SignalFiresWhileTheRegistryIsLockedExclusively)
{
    std::future<std::size_t> reader;
    std::future_status whileSignalled{};
    service->addContextsAddedHandler([&](ContextList&) {
        reader = std::async(std::launch::async, [&] { return service->getChildren(nullptr).size(); });
        whileSignalled = reader.wait_for(std::chrono::milliseconds(100));
    });
    service->addContext(makeContext("a"));
    EXPECT_EQ(whileSignalled, std::future_status::timeout) << "a reader got in while the signal ran";
    EXPECT_EQ(reader.get(), 1u);
}

} // namespace
} // namespace hil
