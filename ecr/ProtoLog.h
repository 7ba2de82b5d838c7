#pragma once

#include "ecrlink/Logger.h"
#include "ecrlink/Trace.h"

#include <string>

namespace ecrlink_detail {

/// Every line of the protocol is logged at level 1.
inline void logOnly(const std::string& text) {
    Logger::get().log(Logger::Level(1), text);
}

inline void traceOnly(const std::string& text) {
    CTrace::Write(text);
}

/// Hands the text to the trace hook, then to the log.
inline void report(const std::string& text) {
    traceOnly(text);
    logOnly(text);
}

} // namespace ecrlink_detail
