#pragma once

#include "ecrlink/Channel.h"
#include "support/Wire.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

/// A channel that plays a script and records every call, in order, as a line
/// of text such as "flush() -> 0", "write(02 00 03 01 02 04 07) -> 0",
/// "setReadTimeouts(0, 250) -> 0" or "read(1) -> 0 [06]". Reads take bytes from
/// a queue of arrivals: each read delivers from the first arrival only, so an
/// arrival models one burst on the line. With nothing queued a read fails with
/// the silence code (106), as a real channel does when its time-out expires.
class ScriptedChannel : public Communication::Channel {
public:
    static constexpr int Silence = 106;

    ScriptedChannel() = default;
    /// Sets *destroyed to true when the channel is destroyed.
    explicit ScriptedChannel(bool* destroyed) : destroyedFlag(destroyed) {}
    ~ScriptedChannel() override;

    // Reads.
    /// Bytes that arrive together; reads take up to what they ask for.
    ScriptedChannel& arrive(const Bytes& bytes) { return push({bytes, 0, false, 0}); }
    ScriptedChannel& arrive(const std::string& hexText) { return arrive(hex(hexText)); }
    /// Each byte arrives on its own.
    ScriptedChannel& trickle(const std::string& hexText);
    /// The next read fails with `rc` and no byte.
    ScriptedChannel& readFails(int rc = Silence) { return push({{}, rc, false, 0}); }
    /// The next read returns `rc`, stores `bytes` and reports `count`, whatever
    /// was asked for (a channel that misbehaves).
    ScriptedChannel& readRaw(int rc, const Bytes& bytes, unsigned int count) { return push({bytes, rc, true, count}); }

    // Results of the other operations, in call order; 0 once none is queued.
    /// Next write returns `rc` having taken `count` bytes (all when negative).
    ScriptedChannel& writeResult(int rc, int count = -1) {
        writeSteps.emplace_back(rc, count);
        return *this;
    }
    ScriptedChannel& flushResult(int rc) { return queue("flush", rc); }
    ScriptedChannel& timeoutResult(int rc) { return queue("setReadTimeouts", rc); }
    ScriptedChannel& openResult(int rc) { return queue("open", rc); }
    ScriptedChannel& closeResult(int rc) { return queue("close", rc); }
    ScriptedChannel& isOpenedResult(int rc) { return queue("isOpened", rc); }
    ScriptedChannel& openFlagResult(int rc) { return queue("setOpenFlag", rc); }
    /// Result of every isOpened() once the queued ones are used.
    ScriptedChannel& isOpenedAlways(int rc) {
        isOpenedDefault = rc;
        return *this;
    }

    /// Every call, in order.
    const std::vector<std::string>& calls() const { return log; }
    /// All bytes written, in order (only the bytes each write took).
    const Bytes& written() const { return out; }

    int open() override { return scripted("open", ""); }
    int close() override { return scripted("close", ""); }
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    int isOpened() override { return scripted("isOpened", "", isOpenedDefault); }
    int setReadTimeouts(unsigned int first, unsigned int milliseconds) override {
        return scripted("setReadTimeouts", std::to_string(first) + ", " + std::to_string(milliseconds));
    }
    int flush() override { return scripted("flush", ""); }
    int setOpenFlag(bool flag) override { return scripted("setOpenFlag", flag ? "true" : "false"); }

private:
    struct Arrival {
        Bytes bytes;
        int rc = 0;
        bool raw = false;
        unsigned int rawCount = 0;
    };

    ScriptedChannel& push(Arrival arrival) {
        arrivals.push_back(std::move(arrival));
        return *this;
    }
    ScriptedChannel& queue(const std::string& op, int rc) {
        results[op].push_back(rc);
        return *this;
    }
    /// Takes the next scripted result of `op` and logs "op(args) -> rc".
    int scripted(const std::string& op, const std::string& args, int fallback = 0);

    bool* destroyedFlag = nullptr;
    std::deque<Arrival> arrivals;
    std::deque<std::pair<int, int>> writeSteps; // result, bytes taken
    std::map<std::string, std::deque<int>> results;
    int isOpenedDefault = 0;
    std::vector<std::string> log;
    Bytes out;
};

} // namespace testing_support
