#pragma once
// Runs a job for every index of a range on several threads; the first exception stops the rest
// and is rethrown to the caller.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace Lumetra::Testing {

/// Calls job(i) for i in [0, count) on `threads` threads (0: one per core), the caller's among them.
template <class Job>
void parallelFor(std::size_t count, unsigned threads, const Job& job) {
    std::atomic<std::size_t> next{0};
    std::mutex failureMutex;
    std::exception_ptr failure;
    const auto work = [&] {
        try {
            for (std::size_t index = next++; index < count; index = next++) job(index);
        } catch (...) {
            const std::lock_guard lock(failureMutex);
            if (!failure) failure = std::current_exception();
            next = count;
        }
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers = std::min<std::size_t>(threads > 0 ? threads : cores, count);
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < workers; ++t) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace Lumetra::Testing
