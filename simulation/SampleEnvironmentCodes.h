#pragma once
// Environment codes that several suites share: the two documented examples, real layouts of the
// three matching geometries and an environment with an empty catalogue.

#include <array>
#include <string_view>

namespace LumetraTest {

// The layouts of entries 2 to 4 suit matching: random layouts of tests/support/MatchScenarios.h
// whose catalogue holds pairs of bars.
inline constexpr std::array<std::string_view, 7> sampleEnvironmentCodes{
    // 3 x 2 under a ceiling, two bars.
    "AgV0cnVzcwMCMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8AAgEAAgIBAA==",
    // Version 0, 4 x 3 on the floor, one bar.
    "AAZ5ZWxsb3cEAwECAQE=",
    // 8 x 8 under a ceiling at 2.5, 7 long bars.
    "Agxsb25nIGNlaWxpbmcICDMzoz/NzMw+NfqOPQAAAAAAAAAAAQAAIECamRk/AAcBAgAHBAAEAQACBwIHAQMEBAIGBwI=",
    // 8 x 8 on the floor, 6 long sloped bars offset in their cells.
    "Agpsb25nIGZsb29yCAi4U4k/3EagPq+OY72amZk+AAAAAAAAAAAAmpkZPwAGBQAAAwYDAAEABgQBBwcCAAUB",
    // 10 x 10 on the floor, 9 short bars.
    "AgtzaG9ydCBmbG9vcgoKAAAAP5qZmT4AAAAAAAAAAAAAAAAAAAAAAJqZGT8ACQYCAQQGAwAIAQUHAQgAAgABAQQHAgQCAwgEAw==",
    // 10 x 8 under a ceiling, 31 long bars packed into neighbouring cells.
    "AgV0cnVzcwoIMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8AHwIAAAMAAQYAAQkAAwQBAwgBAgACAQICAAMCAQQCAgcCAwMDAwQDAwIEAwk"
    "EAgYFAwcFAQkFAAEGAAMGAAQGAAUGAQkGAgAHAQIHAAMHAgQHAAUHAAYHAAcHAQkHAQ==",
    // 1 x 1 without bars: an empty catalogue.
    "AgV0cnVzcwEBMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8AAA==",
};

}  // namespace LumetraTest
