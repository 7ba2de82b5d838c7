// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Export.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <climits>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <iomanip>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

/// Process-wide log queue. The library only produces lines; another module of
/// the process switches logging on and consumes `queue` under `queue_mutex`.
/// Every module built from this header shares the one instance, so the class
/// keeps default visibility.
class ECRLINK_API Logger {
public:
    /// Log level; a message passes when its level is at most `threshold`.
    enum Level : std::int32_t {};

    /// Entry of `aux_queue`.
    struct AuxEntry {
        std::uint64_t word;
        std::string text;
        std::shared_ptr<void> handle;
    };

    std::mutex aux_mutex;
    /// Highest level logged; 0 switches logging off.
    std::atomic<Level> threshold{Level(0)};
    /// Must be true for anything to be queued.
    std::atomic<bool> enabled{false};
    std::uint64_t aux_value = 250;
    /// Guards `queue`.
    std::mutex queue_mutex;
    /// Notified once per queued line.
    std::condition_variable queue_cv;
    /// Finished lines, oldest first, without line terminators.
    std::deque<std::string> queue;
    std::deque<AuxEntry> aux_queue;
    std::uint64_t aux_word = 0;

    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    /// The one instance of the process.
    static Logger& get() {
        static Logger instance;
        return instance;
    }

    /// Formats "YYYY-mm-dd HH:MM:SS tttttttt text" and queues it, when `level`
    /// passes the switches. A filtered call costs two relaxed loads. Any thread;
    /// blocks only on `queue_mutex`, held for the append alone.
    void log(Level level, const std::string& text) {
        // Expected off: the filtered call then runs straight through.
        if (__builtin_expect(takes(level), 0)) queueLine(text.data(), text.size());
    }

    /// The same for a zero-terminated text, which is only measured when the
    /// line is taken.
    void log(Level level, const char* text) {
        if (__builtin_expect(takes(level), 0)) queueLine(text, std::char_traits<char>::length(text));
    }

    /// True when a line of `level` would be queued now, so that a caller can
    /// skip building a text that would be thrown away. Two relaxed loads.
    bool takes(Level level) const {
        const Level limit = threshold.load(std::memory_order_relaxed);
        if (limit == 0 || level > limit) return false;
        return enabled.load(std::memory_order_relaxed);
    }

    /// The calling thread's id: low 32 bits of the hash of its std::thread::id,
    /// computed once per thread.
    static std::uint32_t cached_thread_id() {
        thread_local std::uint32_t tid = 0;
        thread_local bool ready = false;
        if (!ready) {
            tid = static_cast<std::uint32_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
            ready = true;
        }
        return tid;
    }

    /// One log line for a local time, a thread id and a text.
    static std::string formatLine(std::time_t seconds, std::uint32_t tid, const std::string& text) {
        char stamp[StampSize];
        const std::size_t length = formatStamp(seconds, stamp);
        return buildLine(stamp, length, tid, text.data(), text.size());
    }

    // Consumer side, for the module that reads the queue.

    /// Switches logging on up to `level`.
    void enable(Level level) {
        threshold.store(level, std::memory_order_relaxed);
        enabled.store(true, std::memory_order_relaxed);
    }

    /// Switches logging off; lines already queued stay.
    void disable() {
        enabled.store(false, std::memory_order_relaxed);
        threshold.store(Level(0), std::memory_order_relaxed);
    }

    /// Takes the oldest line, waiting up to `timeout`; false when none came.
    bool pop(std::string& line, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(queue_mutex);
        if (!queue_cv.wait_for(lock, timeout, [this] { return !queue.empty(); })) return false;
        line = std::move(queue.front());
        queue.pop_front();
        return true;
    }

    /// Takes every queued line, oldest first, without waiting.
    std::vector<std::string> drain() {
        std::deque<std::string> taken;
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            taken.swap(queue);
        }
        return {std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end())};
    }

private:
    static constexpr std::size_t StampSize = 32;

    // The slow path, kept out of line so that a filtered call stays two loads.
    __attribute__((noinline)) void queueLine(const char* text, std::size_t length) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 1000000000;
        // The local time text is made once per second per thread.
        thread_local std::int64_t second = INT64_MIN;
        thread_local char stamp[StampSize];
        thread_local std::size_t stampLength = 0;
        if (second != seconds) {
            stampLength = formatStamp(static_cast<std::time_t>(seconds), stamp);
            second = seconds;
        }
        std::string line = buildLine(stamp, stampLength, cached_thread_id(), text, length);
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            queue.push_back(std::move(line));
        }
        queue_cv.notify_one();
    }

    // "YYYY-mm-dd HH:MM:SS" in local time; its length (0 if it did not fit).
    static std::size_t formatStamp(std::time_t seconds, char* stamp) {
        std::tm local{};
        localtime_r(&seconds, &local);
        return std::strftime(stamp, StampSize, "%Y-%m-%d %H:%M:%S", &local);
    }

    static std::string buildLine(const char* stamp, std::size_t stampLength, std::uint32_t tid, const char* text,
                                 std::size_t length) {
        char id[10];
        id[0] = ' ';
        for (int i = 8; i >= 1; --i, tid >>= 4) id[i] = "0123456789abcdef"[tid & 0xF];
        id[9] = ' ';
        std::string line;
        line.reserve(stampLength + sizeof id + length);
        line.append(stamp, stampLength).append(id, sizeof id).append(text, length);
        return line;
    }
};
