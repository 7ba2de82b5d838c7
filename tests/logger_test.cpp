// SPDX-License-Identifier: MIT
// The Logger's switches, line format and queue, shared with another module; the number formatting of diagnostics.
#include "ecrlink/ECRProto.h"
#include "ecrlink/Logger.h"
#include "ecrlink/Trace.h"
#include "support/LogCapture.h"

#include <gmock/gmock.h>

#include <climits>
#include <cstdio>
#include <regex>
#include <thread>

using testing_support::LogCapture;

extern "C" void peer_enable_logging();
extern "C" bool peer_pop_line(std::string* line);
extern "C" void* peer_logger_address();

TEST(Logger, QueuesOnlyWhatPassesBothSwitches) {
    struct Case { int threshold; bool enabled; int level; bool queued; };
    for (const Case& c : {Case{0, true, 1, false}, Case{0, true, 0, false}, Case{0, true, -3, false}, Case{1, true, 1, true},
                          Case{1, true, 2, false}, Case{1, true, 0, true}, Case{1, true, -1, true}, Case{5, false, 1, false},
                          Case{5, true, 5, true}, Case{5, true, 6, false}}) {
        Logger& logger = Logger::get();
        logger.drain();
        logger.threshold = Logger::Level(c.threshold);
        logger.enabled = c.enabled;
        logger.log(Logger::Level(c.level), "text");
        logger.disable();
        EXPECT_EQ(logger.drain().size(), c.queued ? 1u : 0u) << c.threshold << " " << c.enabled << " " << c.level;
    }
}

TEST(Logger, LineIsTimeThreadIdAndTextUnchanged) {
    LogCapture capture;
    const std::string text("two\nlines and a \0 zero byte", 27);
    Logger::get().log(Logger::Level(1), text);
    Logger::get().log(Logger::Level(1), "");
    const std::vector<std::string> lines = Logger::get().drain();
    ASSERT_EQ(lines.size(), 2u);
    char id[9];
    std::snprintf(id, sizeof id, "%08x", static_cast<unsigned int>(std::hash<std::thread::id>{}(std::this_thread::get_id())));
    EXPECT_TRUE(std::regex_search(lines[0], std::regex(std::string(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )") + id + " ")));
    EXPECT_EQ(lines[0].substr(LogCapture::Prefix), text);
    EXPECT_EQ(lines[1].size(), LogCapture::Prefix) << "an empty text ends the line after the thread id";

    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(Logger::formatLine(1612170309, 0x0a1b2cu, "hello"), "2021-02-01 09:05:09 000a1b2c hello");
    std::uint32_t other = 0;
    std::thread([&] { other = Logger::cached_thread_id(); }).join();
    EXPECT_NE(other, Logger::cached_thread_id());
}

TEST(Logger, ManyThreadsLoseNoLineAndKeepEachThreadsOrder) {
    LogCapture capture;
    constexpr int Threads = 4, PerThread = 500;
    std::vector<std::thread> producers;
    for (int t = 0; t < Threads; ++t)
        producers.emplace_back([t] {
            for (int i = 0; i < PerThread; ++i) Logger::get().log(Logger::Level(1), std::to_string(t) + ":" + std::to_string(i));
        });
    std::vector<int> next(Threads, 0);
    int received = 0;
    for (std::string line; received < Threads * PerThread && Logger::get().pop(line, std::chrono::seconds(5)); ++received) {
        const std::string text = line.substr(LogCapture::Prefix);
        EXPECT_EQ(std::stoi(text.substr(text.find(':') + 1)), next[std::stoi(text)]++);
    }
    for (auto& p : producers) p.join();
    EXPECT_EQ(received, Threads * PerThread);
}

TEST(Logger, OneInstanceAcrossModules) {
    EXPECT_EQ(peer_logger_address(), &Logger::get());
    Logger::get().drain();
    peer_enable_logging();
    CECRProto proto;
    EXPECT_EQ(proto.sendAbort(), 314u); // queued from inside libecrlink
    std::string first, second;
    ASSERT_TRUE(peer_pop_line(&first) && peer_pop_line(&second));
    EXPECT_EQ(first.substr(LogCapture::Prefix) + "; " + second.substr(LogCapture::Prefix), "sending abort; error: bad communication");
    Logger::get().disable();
}

TEST(GetNumFilledZero, OneLeadingZeroBelowTen) {
    const std::pair<int, const char*> cases[] = {{0, "00"},   {7, "07"},     {9, "09"},  {10, "10"}, {99, "99"}, {123, "123"},
                                                 {-5, "-5"}, {-10, "-10"}, {INT_MAX, "2147483647"}, {INT_MIN, "-2147483648"}};
    for (const auto& [n, text] : cases) EXPECT_EQ(GetNumFilledZero(n), text) << n;
}
