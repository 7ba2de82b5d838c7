// SPDX-License-Identifier: MIT
#include "base/SignalWatch.h"

#include <pthread.h>

namespace ecrlink::tool {

namespace {

sigset_t stopping() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void SignalWatch::blockHere() {
    const sigset_t set = stopping();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatch::SignalWatch(std::function<void(int)> onSignal) : signals(stopping()) {
    sigaddset(&signals, SIGUSR1); // ours, to end the watcher
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
    watcher = std::thread([this, onSignal = std::move(onSignal)] {
        int number = 0;
        while (sigwait(&signals, &number) == 0 && number != SIGUSR1) {
            onSignal(number);
        }
    });
}

SignalWatch::~SignalWatch() {
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace ecrlink::tool
