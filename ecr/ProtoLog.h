// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Logger.h"
#include "ecrlink/Trace.h"

#include <string>

namespace ecrlink::ecr {

/// The process's one Logger, looked up once when the library is loaded, so
/// that a filtered line costs its two loads and no call.
extern Logger& protoLogger;

/// Every line of the protocol is logged at level 1. Texts are built only when
/// the Logger takes the line.
inline void logOnly(const char* text) {
    protoLogger.log(Logger::Level(1), text);
}

inline std::string joined(const char* text, const char* more) { return std::string(text) + more; }
template <typename Number>
std::string joined(const char* text, Number number) { return text + std::to_string(number); }

/// Logs `text` followed by `more` (a number in decimal, or a text).
template <typename More>
void logOnly(const char* text, More more) {
    Logger& logger = protoLogger;
    if (logger.takes(Logger::Level(1))) logger.log(Logger::Level(1), joined(text, more));
}

inline void traceOnly(const char* text) {
    CTrace::Write(text);
}

/// Traces `text` followed by `number` in decimal.
template <typename Number>
void traceOnly(const char* text, Number number) {
    CTrace::Write(joined(text, number));
}

/// Hands the text to the trace hook, then to the log.
inline void report(const char* text) {
    traceOnly(text);
    logOnly(text);
}

} // namespace ecrlink::ecr
