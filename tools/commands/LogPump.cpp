// SPDX-License-Identifier: MIT
#include "commands/LogPump.h"

#include "base/Console.h"

#include "ecrlink/Logger.h"

#include <chrono>
#include <string>

namespace ecrlink::tool {

LogPump::LogPump(std::FILE* stream, int level) : out(stream) {
    Logger::get().enable(Logger::Level(level));
    worker = std::thread([this] { run(); });
}

LogPump::~LogPump() {
    stopping = true;
    worker.join();
    Logger::get().disable();
    for (const std::string& line : Logger::get().drain()) Console::write(out, line + "\n");
}

void LogPump::run() {
    std::string line;
    while (!stopping.load()) {
        if (Logger::get().pop(line, std::chrono::milliseconds(50))) Console::write(out, line + "\n");
    }
}

} // namespace ecrlink::tool
