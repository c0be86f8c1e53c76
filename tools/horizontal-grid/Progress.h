#pragma once
// A progress bar on standard error for long runs: it appears once a run has taken a second, and
// only on a terminal unless forced.

#include <chrono>
#include <cstddef>
#include <string>

namespace Lumetra::Tools {

enum class ProgressMode { automatic, always, never };

class Progress {
public:
    Progress(std::string label, std::size_t total, ProgressMode mode);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void advance(std::size_t steps = 1);

private:
    void draw();

    using Clock = std::chrono::steady_clock;
    std::string label_;
    std::size_t total_;
    std::size_t done_ = 0;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDrawn_{};
};

}  // namespace Lumetra::Tools
