// SPDX-License-Identifier: MIT
#pragma once

// The capture file, shared by the channel that writes it and the reader.
// Internal to libecrcomm; the layout is described in docs/capture-format.md.

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

namespace Communication {
namespace capture {

/// "ECRLCAP" and the format version.
constexpr unsigned char Magic[8] = {'E', 'C', 'R', 'L', 'C', 'A', 'P', 1};
constexpr std::size_t HeaderSize = 24;
constexpr unsigned char MaskByte = '*';

enum Type : std::uint8_t {
    Start = 0, ///< payload: wall-clock time of the start, ns since 1970 (u64)
    Open = 1,
    Close = 2,
    Read = 3,  ///< arg: bytes wanted; payload: bytes got
    Write = 4, ///< arg: bytes written; payload: bytes handed in
    Timeout = 5, ///< arg: milliseconds
    Flush = 6,
    Sync = 7,
};

/// One record: a 24-byte header (type, 3 reserved bytes, arg, payload length,
/// result, time since start in ns; little-endian) and the payload.
struct Record {
    Type type = Start;
    std::uint32_t arg = 0;
    std::int32_t value = 0;
    std::uint64_t timeNs = 0;
    std::vector<unsigned char> payload;
};

std::vector<unsigned char> encode(Type type, std::uint32_t arg, std::int32_t value, std::uint64_t timeNs,
                                  const unsigned char* payload, std::uint32_t length);
/// Decodes the record at `at`; false when fewer bytes remain than it needs.
bool decode(const unsigned char*& at, const unsigned char* end, Record& out);

/// Follows the bytes of one direction of the line, frame by frame: it masks
/// the values of chosen tags in place as the bytes pass, and reports each
/// whole frame and each single control byte. Dump headers are read in the
/// byte order of the direction.
class FrameTracker {
public:
    struct Frame {
        unsigned char start;
        std::vector<unsigned char> data;
        bool checkOk;
    };
    using FrameDone = std::function<void(const Frame&)>;
    using ControlByte = std::function<void(unsigned char)>;

    FrameTracker(bool headersMsbFirst, const std::set<std::uint32_t>* masked);
    /// Feeds `n` bytes, masking in place; `frame` and `control` may be empty.
    void feed(unsigned char* bytes, std::size_t n, const FrameDone& frame, const ControlByte& control);
    /// The other side gave up on the frame in progress (time-out, flush).
    void reset();
    /// True right after a whole frame, until the next byte.
    bool frameJustEnded() const { return justEnded; }
    /// A frame begun and not ended: its start byte and the data so far;
    /// `announced` is the length of its header, 0 while that is incomplete.
    bool unfinished(Frame& out, std::uint32_t& announced) const;

private:
    void dataByte(unsigned char& byte);

    enum State { Idle, LengthHigh, LengthLow, Data, Check } state = Idle;
    bool msbFirst;
    const std::set<std::uint32_t>* masked;
    bool justEnded = false;
    unsigned char start = 0;
    std::uint32_t length = 0;
    std::vector<unsigned char> data;
    unsigned char realXor = 0, maskedXor = 0;
    // Where the data stands inside the dump's records.
    unsigned char header[8] = {};
    unsigned int headerFill = 0;
    std::uint32_t valueLeft = 0;
    bool maskingValue = false;
};

} // namespace capture
} // namespace Communication
