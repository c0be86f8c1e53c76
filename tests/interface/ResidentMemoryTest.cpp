// Repeated use leaves the process's resident memory flat: environments created and released and
// frames matched after a warm-up add no more than a small bound. The full-size run (10,000
// environments, a million frames) is the ResidentMemory benchmark; this is a reduced one.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "simulation/ResidentMemory.h"

namespace Lumetra::Testing {
namespace {

// Outside sanitizers the counts are large enough that leaking every environment (about 4 KB
// each) or every frame's arrays (100 bytes or more) would exceed the allowed growth. Sanitizers
// keep freed memory in quarantine, so resident memory is no measure there; their leak check
// covers the loop instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool measureResidentMemory = false;
constexpr std::size_t environmentCount = 300;
constexpr std::size_t frameCount = 10'000;
#elif defined(NDEBUG)
constexpr bool measureResidentMemory = true;
constexpr std::size_t environmentCount = 2'000;
constexpr std::size_t frameCount = 50'000;
#else
constexpr bool measureResidentMemory = true;
constexpr std::size_t environmentCount = 1'000;
constexpr std::size_t frameCount = 30'000;
#endif

constexpr std::int64_t allowedGrowth = 2 << 20;

TEST(ResidentMemory, CreatingReleasingAndMatchingLeaveItFlat) {
    LibraryHost host;
    const EnvironmentChurn churn(host);
    churn.run(environmentCount / 10, frameCount / 10);  // warm-up: allocator pools, thread message
    const std::int64_t before = residentSetBytes();
    const std::size_t identified = churn.run(environmentCount, frameCount);
    const std::int64_t after = residentSetBytes();
    EXPECT_GT(identified, frameCount / 2) << "the frames must go through the whole match";
    RecordProperty("residentGrowthBytes", std::to_string(after - before));
    if (measureResidentMemory) {
        EXPECT_LT(after - before, allowedGrowth) << "before " << before << ", after " << after;
    }
}

}  // namespace
}  // namespace Lumetra::Testing
