// SPDX-License-Identifier: MIT
#pragma once

// Symbols of the public API keep default visibility; everything else is built
// with -fvisibility=hidden and stays internal to its library.
#if defined(__GNUC__) || defined(__clang__)
#define ECRLINK_API __attribute__((visibility("default")))
#else
#define ECRLINK_API
#endif
