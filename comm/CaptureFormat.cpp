// SPDX-License-Identifier: MIT
#include "CaptureFormat.h"

#include "ecrlink/ECRProto.h"

#include <algorithm>
#include <cstring>

namespace Communication {
namespace capture {

namespace {

void put(std::vector<unsigned char>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::uint32_t be32(const unsigned char* at) {
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 | at[3];
}

constexpr unsigned char STX = CECRProto::STX, DC2 = CECRProto::DC2;

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

std::uint64_t getLE(const unsigned char* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | at[i];
    return value;
}

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
    std::size_t at = 0;
    while (n - at >= 8) {
        const unsigned char* h = dump + at;
        const std::uint32_t number = headersMsbFirst ? be32(h) : static_cast<std::uint32_t>(getLE(h, 4));
        const std::uint32_t length = headersMsbFirst ? be32(h + 4) : static_cast<std::uint32_t>(getLE(h + 4, 4));
        at += 8;
        const std::size_t value = std::min<std::size_t>(length, n - at);
        if (masked.count(number)) std::memset(dump + at, MaskByte, value);
        at += value;
    }
}

FrameTracker::FrameTracker(bool headersMsbFirst, const std::set<std::uint32_t>* maskedTags)
    : msbFirst(headersMsbFirst), masked(maskedTags) {}

void FrameTracker::reset() {
    state = Idle;
    justEnded = false;
}

bool FrameTracker::unfinished(Frame& out, std::uint32_t& announced) const {
    if (state == Idle) return false;
    const bool lengthKnown = state == Data || state == Check;
    out = Frame{start, lengthKnown ? data : std::vector<unsigned char>{}, false};
    announced = lengthKnown ? length : 0;
    return true;
}

void FrameTracker::dataByte(unsigned char& byte) {
    realXor ^= byte;
    if (valueLeft > 0) {
        --valueLeft;
        if (maskingValue) byte = MaskByte;
    } else {
        header[headerFill++] = byte;
        if (headerFill == sizeof header) {
            headerFill = 0;
            const std::uint32_t number = msbFirst ? be32(header) : static_cast<std::uint32_t>(getLE(header, 4));
            valueLeft = msbFirst ? be32(header + 4) : static_cast<std::uint32_t>(getLE(header + 4, 4));
            maskingValue = masked && masked->count(number) > 0;
        }
    }
    maskedXor ^= byte;
    data.push_back(byte);
}

void FrameTracker::feed(unsigned char* bytes, std::size_t n, const FrameDone& frame, const ControlByte& control) {
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char& byte = bytes[i];
        justEnded = false;
        switch (state) {
        case Idle:
            if (byte == STX || byte == DC2) {
                start = byte;
                state = LengthHigh;
            } else if (control) {
                control(byte);
            }
            break;
        case LengthHigh:
            length = std::uint32_t(byte) << 8;
            state = LengthLow;
            break;
        case LengthLow:
            length |= byte;
            data.clear();
            realXor = maskedXor = 0;
            headerFill = 0;
            valueLeft = 0;
            maskingValue = false;
            state = length == 0 ? Check : Data;
            break;
        case Data:
            dataByte(byte);
            if (data.size() == length) state = Check;
            break;
        case Check: {
            // Keep a good frame good and a bad one bad without the check byte
            // telling anything of the masked values.
            const bool ok = byte == realXor;
            byte = static_cast<unsigned char>(byte ^ realXor ^ maskedXor);
            state = Idle;
            justEnded = true;
            if (frame) frame(Frame{start, data, ok});
            break;
        }
        }
    }
}

} // namespace capture
} // namespace Communication
