// Threads: each thread has its own message, and references may be added and dropped from many
// threads at once.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "simulation/LibraryHost.h"

namespace Lumetra::Testing {
namespace {

TEST(MessageConcurrency, EachThreadReadsOnlyItsOwnMessage) {
    LibraryHost host;
    const InterfacePtr<ILibrary> library = host.createLibrary();

    IEnvironment* slot = nullptr;
    ASSERT_EQ(createEnvironment(*library, "", &slot), ExceptionCode::Failed);
    const std::string failure = threadMessage(*library);
    ASSERT_FALSE(failure.empty());

    std::string freshThreadMessage = "unread";
    std::string otherThreadFailure;
    std::thread other([&] {
        freshThreadMessage = threadMessage(*library);
        IEnvironment* otherSlot = nullptr;
        library->createEnvironment({nullptr, 1}, &otherSlot);
        otherThreadFailure = threadMessage(*library);
    });
    other.join();

    EXPECT_EQ(freshThreadMessage, "");
    EXPECT_FALSE(otherThreadFailure.empty());
    EXPECT_NE(otherThreadFailure, failure);
    EXPECT_EQ(threadMessage(*library), failure);
}

TEST(MessageConcurrency, ReferencesFromManyThreadsBalance) {
    LibraryHost host;
    InterfacePtr<ILibrary> library = host.createLibrary();
    constexpr int threadCount = 8;
    constexpr int rounds = 20000;

    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&library] {
            IEnvironment* slot = nullptr;
            library->createEnvironment({nullptr, 0}, &slot);  // gives this thread a message
            for (int i = 0; i < rounds; ++i) {
                library->AddRef();
                library->Release();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(library->AddRef(), 2u);
    EXPECT_EQ(library->Release(), 1u);
}

TEST(MessageConcurrency, LastReleaseOnAnotherThreadDestroysOnce) {
    LibraryHost host;
    for (int round = 0; round < 200; ++round) {
        ILibrary* library = host.createLibrary().detach();
        library->AddRef();
        std::thread first([library] { library->Release(); });
        std::thread second([library] { library->Release(); });
        first.join();
        second.join();
    }
    SUCCEED() << "double destruction or leaks are reported by the sanitizers";
}

}  // namespace
}  // namespace Lumetra::Testing
