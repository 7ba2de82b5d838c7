// SPDX-License-Identifier: MIT
#pragma once

// The capture file, shared by the channel that writes it and the reader.
// Internal to libecrcomm; the layout is described in docs/capture-format.md.

#include "wire/ByteOrder.h"
#include "wire/DumpCursor.h"
#include "wire/FrameParser.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace ecrlink::comm {

/// "ECRLCAP" and the format version: 1 without record trailers (read only),
/// 2 with them (written).
constexpr unsigned char Magic[8] = {'E', 'C', 'R', 'L', 'C', 'A', 'P', 2};
constexpr std::size_t MagicSize = sizeof Magic;
constexpr unsigned char Version1 = 1, Version2 = 2;
constexpr std::size_t HeaderSize = 24;
/// Version 2: after each record its length (header and payload) and the
/// CRC-32 of those bytes, so that the file can be walked from its end.
constexpr std::size_t TrailerSize = 8;
/// Longest payload of a version 2 record; longer data is split.
constexpr std::uint32_t MaxPayload = 1u << 20;
constexpr unsigned char MaskByte = '*';

enum Type : std::uint8_t {
    Session = 0, ///< the file was opened; payload: wall-clock time, ns since 1970 (u64)
    Open = 1,
    Close = 2,
    Read = 3,  ///< arg: bytes wanted; payload: bytes got
    Write = 4, ///< arg: bytes written; payload: those bytes (version 1: every byte handed in)
    Timeout = 5, ///< arg: milliseconds
    Flush = 6,
    Sync = 7,    ///< value: errno of fdatasync, 0 when synced
    Intent = 8,  ///< arg: length of the reference; payload: wall-clock ns (u64), reference, request dump
    Sending = 9, ///< payload: reference; synced before the request's first byte goes out
    Outcome = 10, ///< arg: ending | RequestOut; value: the run's result; payload: reference
};

/// Outcome record: the request's bytes (some of them) reached the line.
constexpr std::uint32_t RequestOut = 0x100;

/// One record: a 24-byte header (type, 3 reserved bytes, arg, payload length,
/// result, time since start in ns; little-endian) and the payload.
struct Record {
    Type type = Session;
    std::uint32_t arg = 0;
    std::int32_t value = 0;
    std::uint64_t timeNs = 0;
    std::vector<unsigned char> payload;
};

/// A version 2 record: header, payload and trailer.
std::vector<unsigned char> encode(Type type, std::uint32_t arg, std::int32_t value, std::uint64_t timeNs,
                                  const unsigned char* payload, std::uint32_t length);
/// The header at `at` (HeaderSize bytes) into `out` (without the payload);
/// the payload length it announces.
std::uint32_t decodeHeader(const unsigned char* at, Record& out);
std::uint32_t crc32(const unsigned char* bytes, std::size_t n, std::uint32_t crc = 0);
using ecrlink::wire::getLE;

/// Intent payload: wall-clock time, reference, request dump.
std::vector<unsigned char> intentPayload(std::uint64_t wallNs, const std::string& reference,
                                         const unsigned char* request, std::uint32_t length);
/// Splits an intent record; false when its lengths do not fit.
bool splitIntent(const Record& record, std::uint64_t& wallNs, std::string& reference,
                 std::vector<unsigned char>& request);

/// Masks in place the values of `masked` tags of a whole dump whose record
/// headers are read in the given byte order; a record running past the end
/// is masked up to the end.
void maskDump(unsigned char* dump, std::size_t n, bool headersMsbFirst, const std::set<std::uint32_t>& masked);

/// Follows the bytes of one direction of the line, frame by frame: it masks
/// the values of chosen tags in place as the bytes pass, and reports each
/// whole frame and each single control byte. Dump headers are read in the
/// byte order of the direction.
class FrameTracker final : private ecrlink::wire::FrameParser::DataHook {
public:
    using Frame = ecrlink::wire::FrameParser::Frame;
    using FrameDone = std::function<void(const Frame&)>;
    using ControlByte = std::function<void(unsigned char)>;

    FrameTracker(bool headersMsbFirst, const std::set<std::uint32_t>* masked);
    FrameTracker(const FrameTracker&) = delete;
    FrameTracker& operator=(const FrameTracker&) = delete;
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
    void frameBegins() override;
    void dataByte(unsigned char& byte) override;

    ecrlink::wire::FrameParser parser{this};
    ecrlink::wire::DumpCursor cursor;
    const std::set<std::uint32_t>* masked;
    bool justEnded = false;
};

} // namespace ecrlink::comm
