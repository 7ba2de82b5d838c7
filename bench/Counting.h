// SPDX-License-Identifier: MIT
// Counters of the benchmark program: heap allocations through a replaced
// operator new, and the system calls that libecrcomm makes through the C
// library (the program defines read, write, poll... itself, so the library's
// calls land here first). Only the calling thread's calls are counted, and
// only while counting is on.
#pragma once

#include <functional>

namespace bench {

struct Counts {
    long allocations = 0;
    long systemCalls = 0;
};

/// Starts counting on this thread from zero.
void startCounting();
/// Stops counting on this thread and returns what was counted.
Counts stopCounting();

/// Called on this thread after each write of `fd` that libecrcomm made; the
/// calls the hook makes itself are not counted.
void setWriteHook(int fd, std::function<void()> hook);
void clearWriteHook();

} // namespace bench
