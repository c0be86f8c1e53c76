#include "tools/horizontal-grid/Progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <fmt/core.h>

namespace Lumetra::Tools {

namespace {
constexpr auto delayBeforeShowing = std::chrono::seconds(1);
constexpr auto redrawInterval = std::chrono::milliseconds(100);
constexpr std::size_t barWidth = 30;
}  // namespace

Progress::Progress(std::string label, std::size_t total, ProgressMode mode)
    : label_(std::move(label)), total_(total),
      enabled_(mode == ProgressMode::always || (mode == ProgressMode::automatic && isatty(STDERR_FILENO) != 0)) {}

Progress::~Progress() {
    if (!shown_) return;
    done_ = total_;
    draw();
    std::fputc('\n', stderr);
}

void Progress::advance(std::size_t steps) {
    done_ = std::min(total_, done_ + steps);
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < delayBeforeShowing || now - lastDrawn_ < redrawInterval) return;
    lastDrawn_ = now;
    shown_ = true;
    draw();
}

void Progress::draw() {
    const double share = total_ == 0 ? 1.0 : static_cast<double>(done_) / static_cast<double>(total_);
    const auto filled = static_cast<std::size_t>(share * barWidth);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    fmt::print(stderr, "\r{} [{}{}] {}/{} {:.0f}%, {:.1f} s", label_, std::string(filled, '#'),
               std::string(barWidth - filled, '.'), done_, total_, share * 100.0, elapsed);
    std::fflush(stderr);
}

}  // namespace Lumetra::Tools
