// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdio>
#include <thread>

namespace ecrlink::tool {

/// Consumer of the library's log: switches the Logger on and copies its
/// lines to a stream from a thread of its own until destroyed; lines queued
/// before the end are still written.
class LogPump {
public:
    /// `level` 2 adds the wire trace to the library's lines.
    explicit LogPump(std::FILE* out = stderr, int level = 1);
    ~LogPump();
    LogPump(const LogPump&) = delete;
    LogPump& operator=(const LogPump&) = delete;

private:
    void run();

    std::FILE* out;
    std::atomic<bool> stopping{false};
    std::thread worker;
};

} // namespace ecrlink::tool
