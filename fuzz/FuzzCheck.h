// SPDX-License-Identifier: MIT
#pragma once
// What the fuzz targets share: the check that stops a run, and what the
// allocator in big_block_cache.cpp tells about the arrays the library made.
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#define CHECK(cond) ((cond) ? (void)0 : (std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond), std::abort()))

// Stops the run, saying what broke in words.
inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// File buffers handed out and not yet released.
std::size_t bigBlocksInUse();
// Size of the latest array allocated with any other size.
std::size_t lastArraySize();
