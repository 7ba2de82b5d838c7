// SPDX-License-Identifier: MIT
#include "CaptureFormat.h"

#include "wire/ByteOrder.h"
#include "wire/DumpWalk.h"

#include <cstring>

namespace ecrlink::comm {

namespace wire = ecrlink::wire;

namespace {

const auto put = wire::putLE;

wire::ByteOrder orderOf(bool msbFirst) { return msbFirst ? wire::ByteOrder::MsbFirst : wire::ByteOrder::LsbFirst; }

struct CrcTable {
    std::uint32_t entry[256];
    constexpr CrcTable() : entry() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[i] = c;
        }
    }
};
constexpr CrcTable Crc;

} // namespace

std::uint32_t crc32(const unsigned char* bytes, std::size_t n, std::uint32_t crc) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) crc = Crc.entry[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::vector<unsigned char> encode(Type type, std::uint32_t arg, std::int32_t value, std::uint64_t timeNs,
                                  const unsigned char* payload, std::uint32_t length) {
    std::vector<unsigned char> out;
    out.reserve(HeaderSize + length + TrailerSize);
    put(out, type, 4);
    put(out, arg, 4);
    put(out, length, 4);
    put(out, static_cast<std::uint32_t>(value), 4);
    put(out, timeNs, 8);
    if (length) out.insert(out.end(), payload, payload + length);
    const std::uint32_t crc = crc32(out.data(), out.size());
    put(out, out.size(), 4);
    put(out, crc, 4);
    return out;
}

std::uint32_t decodeHeader(const unsigned char* at, Record& out) {
    out.type = static_cast<Type>(at[0]);
    out.arg = static_cast<std::uint32_t>(getLE(at + 4, 4));
    out.value = static_cast<std::int32_t>(static_cast<std::uint32_t>(getLE(at + 12, 4)));
    out.timeNs = getLE(at + 16, 8);
    return static_cast<std::uint32_t>(getLE(at + 8, 4));
}

std::vector<unsigned char> intentPayload(std::uint64_t wallNs, const std::string& reference,
                                         const unsigned char* request, std::uint32_t length) {
    std::vector<unsigned char> out;
    out.reserve(8 + reference.size() + length);
    put(out, wallNs, 8);
    out.insert(out.end(), reference.begin(), reference.end());
    if (length) out.insert(out.end(), request, request + length);
    return out;
}

bool splitIntent(const Record& record, std::uint64_t& wallNs, std::string& reference,
                 std::vector<unsigned char>& request) {
    const std::vector<unsigned char>& p = record.payload;
    if (p.size() < 8 || p.size() - 8 < record.arg) return false;
    wallNs = getLE(p.data(), 8);
    reference.assign(p.begin() + 8, p.begin() + 8 + record.arg);
    request.assign(p.begin() + 8 + record.arg, p.end());
    return true;
}

void maskDump(unsigned char* dump, std::size_t n, bool headersMsbFirst, const std::set<std::uint32_t>& masked) {
    wire::walkDump(dump, n, orderOf(headersMsbFirst), [&](const wire::DumpRecord& r) {
        if (masked.count(r.number)) std::memset(dump + r.value, MaskByte, r.present(n));
    });
}

FrameTracker::FrameTracker(bool headersMsbFirst, const std::set<std::uint32_t>* maskedTags)
    : cursor(orderOf(headersMsbFirst)), masked(maskedTags) {}

void FrameTracker::reset() {
    parser.reset();
    justEnded = false;
}

bool FrameTracker::unfinished(Frame& out, std::uint32_t& announced) const {
    if (!parser.inFrame()) return false;
    const bool lengthKnown = parser.lengthKnown();
    out = Frame{};
    out.start = parser.frame().start;
    if (lengthKnown) out.data = parser.frame().data;
    announced = lengthKnown ? parser.announced() : 0;
    return true;
}

void FrameTracker::frameBegins() { cursor.restart(); }

void FrameTracker::dataByte(unsigned char& byte) {
    if (cursor.next(byte) && masked && masked->count(cursor.number())) byte = MaskByte;
}

void FrameTracker::feed(unsigned char* bytes, std::size_t n, const FrameDone& frame, const ControlByte& control) {
    for (std::size_t i = 0; i < n; ++i) {
        justEnded = false;
        switch (parser.take(bytes[i])) {
        case wire::FrameParser::Got::Control:
            if (control) control(bytes[i]);
            break;
        case wire::FrameParser::Got::Frame:
            justEnded = true;
            if (frame) frame(parser.frame());
            break;
        case wire::FrameParser::Got::Nothing:
            break;
        }
    }
}

} // namespace ecrlink::comm
