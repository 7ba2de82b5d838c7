// Cost of a log call: switched off it must stay at two loads; switched on it
// formats one line and queues it.
#include "ecrlink/Logger.h"

#include <benchmark/benchmark.h>

static void LogSwitchedOff(benchmark::State& state) {
    Logger& logger = Logger::get();
    logger.disable();
    const std::string text = "error: communication read ACK, rc = 106";
    for (auto _ : state) logger.log(Logger::Level(1), text);
}
BENCHMARK(LogSwitchedOff);

static void LogFilteredByLevel(benchmark::State& state) {
    Logger& logger = Logger::get();
    logger.enable(Logger::Level(1));
    const std::string text = "verbose detail";
    for (auto _ : state) logger.log(Logger::Level(2), text);
    logger.disable();
}
BENCHMARK(LogFilteredByLevel);

static void LogQueued(benchmark::State& state) {
    Logger& logger = Logger::get();
    logger.enable(Logger::Level(1));
    const std::string text = "error: communication read ACK, rc = 106";
    std::size_t n = 0;
    for (auto _ : state) {
        logger.log(Logger::Level(1), text);
        if (++n % 4096 == 0) {
            state.PauseTiming();
            logger.drain();
            state.ResumeTiming();
        }
    }
    logger.disable();
    logger.drain();
}
BENCHMARK(LogQueued);
