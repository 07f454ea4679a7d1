// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/frame/ServiceBase.h"
#include "tests/fakes/FakeContext.h"
#include "tests/fakes/FakeDebugger.h"

namespace hil {
namespace {

class TestService : public ServiceBase<IServiceBase> {
public:
    explicit TestService(IOrixDebugger& debugger) : ServiceBase(debugger, "Test") {}
};

// Writers add and remove their own contexts while readers walk the registry and a cleaner
// removes one owner's contexts; under the thread sanitizer any unguarded access is reported.
TEST(RegistryConcurrency, WritersReadersAndCleanupDoNotRace)
{
    fakes::FakeDebugger debugger;
    auto service = std::make_shared<TestService>(debugger);
    std::atomic<int> signalled{0};
    service->addContextsAddedHandler([&](ContextList& list) { signalled += static_cast<int>(list.size()); });
    std::atomic<bool> stop{false};

    constexpr int kWriters = 3;
    constexpr int kRounds = 300;
    std::vector<std::thread> threads;
    for (int writer = 1; writer <= kWriters; ++writer) {
        threads.emplace_back([&, writer] {
            debugger.getCurrentOwnerSlot().set(writer);
            for (int round = 0; round < kRounds; ++round) {
                auto parent = fakes::makeContext("w" + std::to_string(writer) + "-" + std::to_string(round));
                ContextList pair{parent, fakes::makeContext(parent->getId() + ".child", parent)};
                service->addContexts(pair);
                if (round % 2 == 0)
                    service->removeContext(pair[1]);
            }
        });
    }
    std::atomic<std::size_t> reads{0};
    // At least one pass each, even when the writers are done before these threads start.
    threads.emplace_back([&] {
        do {
            for (const auto& root : service->getChildren(nullptr)) {
                service->getChildren(root);
                service->getContextFromId(root->getId());
            }
            ++reads;
        } while (!stop);
    });
    threads.emplace_back([&] {
        do
            service->cleanup(kWriters);
        while (!stop);
    });
    for (int writer = 0; writer < kWriters; ++writer)
        threads[writer].join();
    stop = true;
    threads[kWriters].join();
    threads[kWriters + 1].join();
    service->cleanup(kWriters);

    EXPECT_EQ(signalled, kWriters * kRounds * 2);
    EXPECT_GT(reads.load(), 0u);
    // Writer 3 was cleaned up entirely; the others keep each parent and every odd round's child.
    const auto roots = service->getChildren(nullptr);
    EXPECT_EQ(roots.size(), static_cast<std::size_t>((kWriters - 1) * kRounds));
    for (const auto& root : roots) {
        EXPECT_NE(root->getOwnerId(), kWriters);
        const int round = std::stoi(root->getId().substr(root->getId().find('-') + 1));
        EXPECT_EQ(service->getChildren(root).size(), round % 2 == 0 ? 0u : 1u) << root->getId();
    }
}

} // namespace
} // namespace hil
