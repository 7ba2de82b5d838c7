// SPDX-License-Identifier: MIT
// Sending a message against whatever the line answers must end with a documented
// result that fits what the line did, and write nothing but the message's frame
// (each time from its first byte or from where a partial write stopped) and an
// EOT only in answer to a reply that is neither ACK nor NAK. The input holds the
// message (a count of tags, then number, length and value of each) and then the
// line: before each channel call one control byte says how it goes (a result of
// 0, 116 with a count, a time-out, 105, or a count larger than asked). The
// Logger stays off, as in recv_message_fuzz.cpp.
#include "FuzzCheck.h"
#include "ecrlink/Channel.h"
#include "ecrlink/ECRProto.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

namespace {

using P = CECRProto;
using Bytes = std::vector<std::uint8_t>;

struct Input {
    const std::uint8_t* at;
    const std::uint8_t* end;
    std::uint8_t take() { return at < end ? *at++ : 0; }
};

class FuzzLine : public Communication::Channel {
public:
    FuzzLine(Input& in, const Bytes& frame) : in(in), frame(frame) {}
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override {
        count = 0;
        reply = -1;
        const std::uint8_t c = in.take();
        if (c < 0x40 || wanted == 0) return c < 0x20 ? 106 : 105;
        buffer[0] = in.take();
        count = c >= 0xF0 ? wanted + 1 : 1;
        if (count == 1) reply = buffer[0];
        return 0;
    }
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        const std::size_t offset = frame.size() - std::min<std::size_t>(length, frame.size());
        const bool piece = length <= frame.size() && (offset == 0 || offset == next) &&
                           std::memcmp(data, frame.data() + offset, length) == 0;
        if (!piece) CHECK(length == 1 && data[0] == P::EOT && reply >= 0 && reply != P::ACK && reply != P::NAK);
        eot = !piece;
        ++writes;
        const std::uint8_t c = in.take();
        count = c < 0x80 ? length : c < 0xC0 ? (length * (c & 0x3F)) / 64 : c < 0xE0 ? length + 1 : 0;
        const int rc = c < 0x80 ? 0 : c < 0xE0 ? 116 : 107;
        if (piece) {
            stalled = rc == 116 && count == 0 ? stalled + 1 : 0;
            CHECK(stalled <= 16); // the sender gives up on a channel that takes nothing
            next = rc == 116 ? offset + std::min(count, length) : 0;
        }
        return rc;
    }
    int isOpened() override {
        closed = in.take() == 0xFF;
        return closed ? 105 : 0;
    }
    int open() override { return 0; }
    int close() override { return 0; }
    int setReadTimeouts(unsigned int, unsigned int) override { return in.take() == 0xFE ? 107 : 0; }
    int flush() override { // each attempt starts here
        stalled = 0;
        return in.take() == 0xFD ? 107 : 0;
    }
    int setOpenFlag(bool) override { return 0; }

    int reply = -1; // the byte the last read brought, -1 when it failed
    bool eot = false, closed = false;
    int writes = 0;

private:
    Input& in;
    const Bytes& frame;
    std::size_t next = 0; // where the rest of a partly written frame starts
    int stalled = 0;
};

void put32(Bytes& out, std::size_t n) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(n >> shift));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, data + size};
    CTLVMessage message;
    std::map<unsigned int, Bytes> tags; // the message as the register meant it
    for (int count = in.take() % 8; count > 0; --count) {
        const unsigned int number = in.take();
        const unsigned int length = std::min<std::size_t>(in.take(), in.end - in.at);
        message.addTag(length ? new CTLVTag(number, in.at, length) : new CTLVTag(number));
        tags[number].assign(in.at, in.at + length);
        in.at += length;
    }
    // The frame it must go out as: headers most significant byte first.
    Bytes dump, frame;
    for (const auto& tag : tags) {
        put32(dump, tag.first);
        put32(dump, tag.second.size());
        dump.insert(dump.end(), tag.second.begin(), tag.second.end());
    }
    std::uint8_t check = 0;
    for (std::uint8_t b : dump) check ^= b;
    frame = {P::STX, std::uint8_t(dump.size() >> 8), std::uint8_t(dump.size())};
    frame.insert(frame.end(), dump.begin(), dump.end());
    frame.push_back(check);

    auto* line = new FuzzLine(in, frame);
    CECRProto proto;
    proto.setCommunication(line);
    const unsigned int rc = proto.sendMessage(message);
    const bool valueless = std::any_of(tags.begin(), tags.end(), [](const auto& t) { return t.second.empty(); });
    const int reply = line->reply;
    if (line->closed || tags.empty() || valueless) {
        CHECK(rc == (line->closed ? 105 : tags.empty() ? 310 : 205) && line->writes == 0);
    } else {
        const bool other = reply >= 0 && reply != P::ACK && reply != P::NAK && reply != P::EOT;
        CHECK(rc == 0 ? reply == P::ACK : rc == 304 ? reply == P::EOT && line->eot : rc == 307 ? other && line->eot
              : rc == 306 ? reply < 0 : rc == 303);
    }
    return 0;
}
