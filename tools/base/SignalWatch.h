// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <thread>

#include <signal.h>

namespace ecrlink::tool {

/// SIGINT and SIGTERM for the whole program: taken by a thread of its own with
/// sigwait, so that what they do runs as ordinary code, never in a handler
/// (it may take locks, post to an event loop, cancel a dialogue).
class SignalWatch {
public:
    /// Blocks SIGINT and SIGTERM in the calling thread and in every thread it
    /// starts afterwards; main() calls it before the first thread of a command
    /// that watches them, so that no other thread takes them.
    static void blockHere();

    /// From now until destroyed, calls `onSignal(number)` for each SIGINT or
    /// SIGTERM, on the watching thread (one call at a time). Construct and
    /// destroy it on the same thread; the destructor waits for a call running.
    explicit SignalWatch(std::function<void(int)> onSignal);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    sigset_t signals{}, previous{};
    std::thread watcher;
};

} // namespace ecrlink::tool
