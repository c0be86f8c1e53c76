// Environments living across threads: made on one thread and released on another, made and
// dropped by many threads through one library, and shared by readers while another thread holds
// the reference that is dropped first or last. Run under ThreadSanitizer too.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LibraryHost.h"
#include "simulation/MatchScenarios.h"

namespace Lumetra::Testing {
namespace {

using LumetraTest::EnvironmentDescription;

/// Small layouts with their codes and marker counts, quick to build even under a sanitizer.
struct SmallLayouts {
    std::vector<std::string> codes;
    std::vector<std::size_t> markerCounts;

    explicit SmallLayouts(std::size_t count) {
        std::mt19937_64 rng(17);
        const MatchGeometry geometry = matchGeometries()[1];
        for (std::size_t i = 0; i < count; ++i) {
            const EnvironmentDescription layout = randomMatchLayout(geometry, 8, 8, rng);
            codes.push_back(LumetraTest::writeEnvironmentCode(layout));
            markerCounts.push_back(3 * layout.bars.size());
        }
    }
};

TEST(EnvironmentLifetimeConcurrency, EnvironmentsMadeOnOneThreadAreReleasedOnAnother) {
    LibraryHost host;
    const SmallLayouts layouts(24);
    std::mutex mutex;
    std::condition_variable handedOver;
    std::deque<std::pair<IEnvironment*, std::size_t>> queue;  // environment, its layout
    bool producerDone = false;
    std::atomic<int> failures{0};

    // The producer hands over each environment with its one reference; the consumer owns it then.
    std::thread producer([&] {
        try {
            for (std::size_t i = 0; i < layouts.codes.size(); ++i) {
                IEnvironment* environment = host.createEnvironment(layouts.codes[i]).detach();
                const std::lock_guard lock(mutex);
                queue.emplace_back(environment, i);
                handedOver.notify_one();
            }
        } catch (...) {
            ++failures;
        }
        const std::lock_guard lock(mutex);
        producerDone = true;
        handedOver.notify_one();
    });
    int released = 0;
    std::thread consumer([&] {
        for (;;) {
            std::unique_lock lock(mutex);
            handedOver.wait(lock, [&] { return !queue.empty() || producerDone; });
            if (queue.empty()) return;
            const auto [environment, layout] = queue.front();
            queue.pop_front();
            lock.unlock();
            try {
                if (getMarkers(*environment).size() != layouts.markerCounts[layout]) ++failures;
            } catch (...) {
                ++failures;
            }
            if (environment->Release() != 0) ++failures;
            ++released;
        }
    });
    producer.join();
    consumer.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(released, static_cast<int>(layouts.codes.size()));
}

TEST(EnvironmentLifetimeConcurrency, ThreadsMakeAndDropEnvironmentsThroughOneLibrary) {
    LibraryHost host;
    const InterfacePtr<ILibrary> library = host.createLibrary();
    const SmallLayouts layouts(8);
    constexpr int threadCount = 4;
    constexpr int rounds = 12;

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            // Each thread's refused code names its own grid, so a message from another thread shows.
            EnvironmentDescription tooLarge = matchGeometries()[1].geometry;
            tooLarge.size = {4097ul + static_cast<unsigned long>(t), 4096};
            const std::string refusedCode = LumetraTest::writeEnvironmentCode(tooLarge);
            const std::string refusedMessage = "grid size " + std::to_string(tooLarge.size.x) + " x 4096 has " +
                                               std::to_string(tooLarge.size.x * 4096) +
                                               " cells, more than the 16777216 allowed";
            try {
                for (int round = 0; round < rounds; ++round) {
                    const std::size_t layout = static_cast<std::size_t>(t + round) % layouts.codes.size();
                    IEnvironment* slot = nullptr;
                    if (createEnvironment(*library, layouts.codes[layout], &slot) != ExceptionCode::Ok) ++failures;
                    const InterfacePtr<IEnvironment> environment = InterfacePtr<IEnvironment>::adopt(slot);
                    if (!environment || getMarkers(*environment).size() != layouts.markerCounts[layout]) ++failures;

                    IEnvironment* refusedSlot = nullptr;
                    if (createEnvironment(*library, refusedCode, &refusedSlot) != ExceptionCode::Failed ||
                        refusedSlot != nullptr || threadMessage(*library) != refusedMessage)
                        ++failures;
                }
            } catch (...) {
                ++failures;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(library->AddRef(), 2u);
    EXPECT_EQ(library->Release(), 1u);
}

/// Readers query one environment, each through its own reference, while a holder thread keeps
/// the creator's reference. With `holderLast` the holder drops it after every reader has dropped
/// theirs, and deletes the environment; otherwise it drops it while all readers are reading, and
/// the last reader to finish deletes it.
void shareWhileTheHolderDrops(bool holderLast) {
    LibraryHost host;
    std::mt19937_64 rng(23);
    const EnvironmentDescription layout = randomMatchLayout(matchGeometries()[1], 12, 12, rng);
    InterfacePtr<IEnvironment> environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(layout));
    const std::vector<Vector3> markers = getMarkers(*environment);
    const Vector3 position{0.2f, 2.0f, -0.1f};
    std::vector<Vector3> rays;
    for (const Vector3& marker : markers) rays.push_back(marker - position);
    const std::vector<MarkerIndex> expected = matchByPosition(*environment, rays, position);

    constexpr int readerCount = 3;
    constexpr int rounds = 30;
    std::atomic<int> failures{0};
    std::atomic<int> readersStarted{0};
    std::atomic<int> readersDone{0};
    std::atomic<bool> holderDropped{false};
    std::atomic<int> readerDeletions{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < readerCount; ++r)
        // Each reader's reference is taken here, before the holder can drop its own.
        readers.emplace_back([&, reference = environment]() mutable {
            try {
                for (int round = 0; round < rounds || (!holderLast && !holderDropped); ++round) {
                    if (getMarkers(*reference) != markers) ++failures;
                    if (!filterRay(*reference, {0.0f, -1.0f, 0.0f}, {0.0f, 1.0f, 0.0f})) ++failures;
                    if (matchByPosition(*reference, rays, position) != expected) ++failures;
                    if (round == 0) ++readersStarted;
                }
            } catch (...) {
                ++failures;
            }
            if (reference.detach()->Release() == 0) ++readerDeletions;
            ++readersDone;
        });

    bool holderDeleted = false;
    std::thread holder([&, reference = std::move(environment)]() mutable {
        std::atomic<int>& awaited = holderLast ? readersDone : readersStarted;
        while (awaited < readerCount) std::this_thread::yield();
        holderDeleted = reference.detach()->Release() == 0;
        holderDropped = true;
    });
    holder.join();
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(holderDeleted, holderLast);
    EXPECT_EQ(readerDeletions.load(), holderLast ? 0 : 1);
}

TEST(EnvironmentLifetimeConcurrency, SharedEnvironmentDroppedLastByTheHoldingThread) { shareWhileTheHolderDrops(true); }

TEST(EnvironmentLifetimeConcurrency, SharedEnvironmentDroppedFirstByTheHoldingThread) {
    shareWhileTheHolderDrops(false);
}

}  // namespace
}  // namespace Lumetra::Testing
