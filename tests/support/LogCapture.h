#pragma once

#include "ecrlink/Logger.h"

#include <string>
#include <vector>

namespace testing_support {

/// Switches the Logger on for the life of the object and hands back the texts
/// of the queued lines (without time stamp and thread id).
class LogCapture {
public:
    explicit LogCapture(int level = 1) {
        Logger::get().drain();
        Logger::get().enable(Logger::Level(level));
    }
    ~LogCapture() {
        Logger::get().disable();
        Logger::get().drain();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /// Texts queued since the last call.
    std::vector<std::string> texts() {
        std::vector<std::string> result;
        for (std::string& line : Logger::get().drain()) result.push_back(line.size() >= Prefix ? line.substr(Prefix) : line);
        return result;
    }

    /// Length of "YYYY-mm-dd HH:MM:SS tttttttt ".
    static constexpr std::size_t Prefix = 29;
};

} // namespace testing_support
