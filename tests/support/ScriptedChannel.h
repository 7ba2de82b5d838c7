#pragma once

#include "ecrlink/Channel.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

/// "02 00 03 01" -> bytes. Spaces are optional between pairs.
Bytes hex(const std::string& text);
/// bytes -> "02 00 03 01".
std::string toHex(const std::uint8_t* data, std::size_t size);
inline std::string toHex(const Bytes& data) { return toHex(data.data(), data.size()); }

/// A channel that plays a script and records every call, in order, as a line
/// of text such as "flush()", "write(02 00 03 01 02 04 07) -> 0",
/// "setReadTimeouts(0, 250)" or "read(1) -> 0 [06]". Reads take bytes from a
/// queue of arrivals: each read delivers from the first arrival only, so an
/// arrival models one burst on the line. With nothing queued a read fails with
/// the silence code (106), as a real channel does when its time-out expires.
class ScriptedChannel : public Communication::Channel {
public:
    static constexpr int Silence = 106;

    ScriptedChannel() = default;
    /// Sets *destroyed to true when the channel is destroyed.
    explicit ScriptedChannel(bool* destroyed) : destroyedFlag(destroyed) {}
    ~ScriptedChannel() override;

    // Script: reads.
    /// Bytes that arrive together; reads take up to what they ask for.
    ScriptedChannel& arrive(const Bytes& bytes);
    ScriptedChannel& arrive(const std::string& hexText) { return arrive(hex(hexText)); }
    /// Each byte arrives on its own.
    ScriptedChannel& trickle(const std::string& hexText);
    /// The next read fails with `rc` and no byte.
    ScriptedChannel& readFails(int rc = Silence);
    /// The next read returns `rc`, stores `bytes` and reports `count` as given,
    /// whatever was asked for (to play a channel that misbehaves).
    ScriptedChannel& readRaw(int rc, const Bytes& bytes, unsigned int count);

    // Script: results of the other operations, in call order; 0 when none is queued.
    /// Next write returns `rc` having taken `count` bytes (all when negative).
    ScriptedChannel& writeResult(int rc, int count = -1);
    ScriptedChannel& flushResult(int rc);
    ScriptedChannel& timeoutResult(int rc);
    ScriptedChannel& openResult(int rc);
    ScriptedChannel& closeResult(int rc);
    ScriptedChannel& isOpenedResult(int rc);
    ScriptedChannel& openFlagResult(int rc);
    /// Result of every isOpened() once the queued ones are used.
    ScriptedChannel& isOpenedAlways(int rc);

    // What happened.
    /// Every call, in order.
    const std::vector<std::string>& calls() const { return log; }
    /// All bytes written, in order (only the bytes each write took).
    const Bytes& written() const { return out; }
    /// Arrivals not yet read.
    std::size_t pendingArrivals() const { return arrivals.size(); }

    int open() override;
    int close() override;
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    int isOpened() override;
    int setReadTimeouts(unsigned int first, unsigned int milliseconds) override;
    int flush() override;
    int setOpenFlag(bool flag) override;

private:
    struct Arrival {
        Bytes bytes;
        int rc = 0;
        bool raw = false;
        unsigned int rawCount = 0;
    };
    struct WriteStep {
        int rc;
        int count;
    };

    static int next(std::deque<int>& queue, int fallback);

    bool* destroyedFlag = nullptr;
    std::deque<Arrival> arrivals;
    std::deque<WriteStep> writeSteps;
    std::deque<int> flushResults, timeoutResults, openResults, closeResults, isOpenedResults, openFlagResults;
    int isOpenedDefault = 0;
    std::vector<std::string> log;
    Bytes out;
};

} // namespace testing_support
