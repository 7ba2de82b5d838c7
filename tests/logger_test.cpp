#include "ecrlink/ECRProto.h"
#include "ecrlink/Logger.h"
#include "support/LogCapture.h"

#include <gmock/gmock.h>

#include <regex>
#include <thread>

using testing::ElementsAre;
using testing_support::LogCapture;

extern "C" void peer_enable_logging();
extern "C" bool peer_pop_line(std::string* line);
extern "C" void* peer_logger_address();

namespace {

struct FilterCase {
    int threshold;
    bool enabled;
    int level;
    bool queued;
};

class LoggerFilter : public testing::TestWithParam<FilterCase> {};

TEST_P(LoggerFilter, QueuesOnlyWhatPassesBothSwitches) {
    const FilterCase c = GetParam();
    Logger& logger = Logger::get();
    logger.drain();
    logger.threshold = Logger::Level(c.threshold);
    logger.enabled = c.enabled;
    logger.log(Logger::Level(c.level), "text");
    logger.disable();
    EXPECT_EQ(logger.drain().size(), c.queued ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Switches, LoggerFilter,
                         testing::Values(FilterCase{0, true, 1, false}, FilterCase{0, true, 0, false},
                                         FilterCase{0, true, -3, false}, FilterCase{1, true, 1, true},
                                         FilterCase{1, true, 2, false}, FilterCase{1, true, 0, true},
                                         FilterCase{1, true, -1, true}, FilterCase{5, false, 1, false},
                                         FilterCase{5, true, 5, true}, FilterCase{5, true, 6, false}));

TEST(Logger, LineIsTimeThreadIdAndTextUnchanged) {
    LogCapture capture;
    const std::string text("two\nlines and a \0 zero byte", 27);
    Logger::get().log(Logger::Level(1), text);
    Logger::get().log(Logger::Level(1), "");
    std::vector<std::string> lines = Logger::get().drain();
    ASSERT_EQ(lines.size(), 2u);
    const std::regex prefix(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} [0-9a-f]{8} )");
    for (const std::string& line : lines) EXPECT_TRUE(std::regex_search(line, prefix)) << line;
    EXPECT_EQ(lines[0].substr(LogCapture::Prefix), text);
    EXPECT_EQ(lines[1].size(), LogCapture::Prefix);
    EXPECT_EQ(lines[0].substr(20, 8), lines[1].substr(20, 8)) << "same thread, same id";
}

TEST(Logger, FormatPadsEveryFieldWithZeros) {
    setenv("TZ", "UTC", 1);
    tzset();
    // 2021-02-01 09:05:09 UTC
    EXPECT_EQ(Logger::formatLine(1612170309, 0x0a1b2cu, "hello"), "2021-02-01 09:05:09 000a1b2c hello");
    EXPECT_EQ(Logger::formatLine(1612170309, 0xffffffffu, ""), "2021-02-01 09:05:09 ffffffff ");
}

TEST(Logger, ThreadIdIsTheLow32BitsOfTheThreadHash) {
    const auto expected = static_cast<std::uint32_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
    EXPECT_EQ(Logger::cached_thread_id(), expected);
    std::uint32_t other = 0;
    std::thread([&] { other = Logger::cached_thread_id(); }).join();
    EXPECT_NE(other, expected);
}

TEST(Logger, ManyThreadsLoseNoLineAndKeepEachThreadsOrder) {
    LogCapture capture;
    constexpr int Threads = 4, PerThread = 500;
    std::vector<std::thread> producers;
    for (int t = 0; t < Threads; ++t)
        producers.emplace_back([t] {
            for (int i = 0; i < PerThread; ++i)
                Logger::get().log(Logger::Level(1), std::to_string(t) + ":" + std::to_string(i));
        });
    std::vector<int> next(Threads, 0);
    int received = 0;
    std::string line;
    while (received < Threads * PerThread && Logger::get().pop(line, std::chrono::seconds(5))) {
        const std::string text = line.substr(LogCapture::Prefix);
        const int t = std::stoi(text.substr(0, text.find(':')));
        EXPECT_EQ(std::stoi(text.substr(text.find(':') + 1)), next[t]++);
        ++received;
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
    std::string line;
    ASSERT_TRUE(peer_pop_line(&line));
    EXPECT_EQ(line.substr(LogCapture::Prefix), "sending abort");
    ASSERT_TRUE(peer_pop_line(&line));
    EXPECT_EQ(line.substr(LogCapture::Prefix), "error: bad communication");
    Logger::get().disable();
}

} // namespace
