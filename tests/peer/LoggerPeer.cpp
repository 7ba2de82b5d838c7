// SPDX-License-Identifier: MIT
// A module of its own built from the Logger header: it switches logging on and
// takes lines from the queue, as a register application's consumer would.
#include "ecrlink/Logger.h"

#include <chrono>
#include <string>

extern "C" __attribute__((visibility("default"))) void peer_enable_logging() {
    Logger::get().threshold = Logger::Level(1);
    Logger::get().enabled = true;
}

extern "C" __attribute__((visibility("default"))) bool peer_pop_line(std::string* line) {
    return Logger::get().pop(*line, std::chrono::milliseconds(1000));
}

extern "C" __attribute__((visibility("default"))) void* peer_logger_address() {
    return &Logger::get();
}
