// Allocation failure inside the library never escapes the boundary: the host gets OutOfMemory
// and its slot as it was. Run in-process with a global allocator that can be told to fail.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "interface/Library.h"
#include "simulation/LibraryHost.h"
#include "tests/interface/CountingFakes.h"

namespace {
// Counts down to the allocation that fails; negative means never.
int allocationsBeforeFailure = -1;
}  // namespace

void* operator new(std::size_t size) {
    if (allocationsBeforeFailure == 0) {
        allocationsBeforeFailure = -1;
        throw std::bad_alloc();
    }
    if (allocationsBeforeFailure > 0) --allocationsBeforeFailure;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
// Not inlined, so that the compiler does not pair a new-expression with free().
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace Lumetra::Testing {
namespace {

TEST(OutOfMemory, GetLibraryInterfaceReportsItAndLeavesTheSlot) {
    CountingLibrary previous;
    ILibrary* slot = &previous;
    allocationsBeforeFailure = 0;
    EXPECT_EQ(getLibraryInterface(nullptr, &slot), ExceptionCode::OutOfMemory);
    allocationsBeforeFailure = -1;
    EXPECT_EQ(slot, &previous);
    EXPECT_EQ(previous.releases, 0);
}

TEST(OutOfMemory, CreateEnvironmentReportsItAndLeavesTheSlot) {
    ILibrary* library = nullptr;
    ASSERT_EQ(getLibraryInterface(nullptr, &library), ExceptionCode::Ok);
    CountingEnvironment previous;
    IEnvironment* slot = &previous;
    const std::string code(64, 'A');  // longer than any in-place string, so copying it allocates
    allocationsBeforeFailure = 0;
    EXPECT_EQ(createEnvironment(*library, code, &slot), ExceptionCode::OutOfMemory);
    allocationsBeforeFailure = -1;
    EXPECT_EQ(slot, &previous);
    EXPECT_EQ(previous.releases, 0);
    EXPECT_EQ(threadMessage(*library), std::bad_alloc().what());
    library->Release();
}

}  // namespace
}  // namespace Lumetra::Testing
