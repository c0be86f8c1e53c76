#pragma once
// Invariant checks for fuzz targets: a broken invariant prints what broke and aborts, which the
// fuzzing engine records as a crash together with the input that caused it.

#include <cstdio>
#include <cstdlib>

#define LUMETRA_FUZZ_CHECK(condition, ...)                                              \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::fprintf(stderr, __VA_ARGS__);                                          \
            std::fputc('\n', stderr);                                                   \
            std::abort();                                                               \
        }                                                                               \
    } while (false)
