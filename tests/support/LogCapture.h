// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Logger.h"
#include "support/Wire.h"

#include <algorithm>

namespace testing_support {

/// Switches the Logger on for the life of the object and hands back the texts of the queued lines.
struct LogCapture {
    static constexpr std::size_t Prefix = 29; // "YYYY-mm-dd HH:MM:SS tttttttt "
    LogCapture() { Logger::get().drain(), Logger::get().enable(Logger::Level(1)); }
    ~LogCapture() { Logger::get().disable(), Logger::get().drain(); }
    /// Texts queued since the last call, without time and thread id.
    std::vector<std::string> texts() {
        std::vector<std::string> result;
        for (const std::string& line : Logger::get().drain()) result.push_back(line.substr(std::min(Prefix, line.size())));
        return result;
    }
    std::string text() { return join(texts()); }
};

} // namespace testing_support
