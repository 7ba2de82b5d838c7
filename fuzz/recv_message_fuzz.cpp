// SPDX-License-Identifier: MIT
// Whatever a terminal sends, receiving must end with a documented result or
// the channel's own, reply only as the rules allow, release every buffer and
// keep the tags ascending. The input is the line: before each read one control
// byte says how the read goes (0xFF: time-out; 0xFE: the channel fails; 0xFD:
// success without a byte; 0xFC: a count larger than asked; otherwise up to
// (byte % 16) + 1 of the following bytes arrive). The Logger stays off: the
// library builds its texts either way, and turning them into lines took two
// thirds of the time of an input without depending on any byte of it.
#include "FuzzCheck.h"
#include "ecrlink/Channel.h"
#include "ecrlink/ECRProto.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace {

using P = CECRProto;

class FuzzLine : public Communication::Channel {
public:
    FuzzLine(const std::uint8_t* data, std::size_t size) : at(data), end(data + size) { seen.reserve(size); }
    bool exhausted() const { return at >= end; }
    void startCall() {
        seen.clear();
        last = 0;
        naks = 0;
        status = false;
    }

    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override {
        CHECK(last != P::ACK); // an acknowledged frame ends the call
        count = 0;
        failed = true;
        if (exhausted()) return Communication::CommTimeout;
        const std::uint8_t control = *at++;
        if (control == 0xFF) return Communication::CommTimeout;
        if (control == 0xFE) return Communication::CommIoError;
        failed = false;
        if (control == 0xFD) return 0;
        const std::size_t n = std::min<std::size_t>({wanted, control % 16u + 1u, static_cast<std::size_t>(end - at)});
        std::memcpy(buffer, at, n);
        seen.insert(seen.end(), at, at + n);
        at += n;
        count = control == 0xFC ? wanted + 1 : static_cast<unsigned int>(n);
        return 0;
    }

    // Only single ACK, NAK and EOT bytes go out. ACK and NAK answer the bytes
    // read last, which must be a whole frame whose data sit in a buffer of just
    // the announced length; ACK exactly when the check byte matches.
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        const std::size_t n = seen.size();
        CHECK(length == 1);
        if (data[0] == P::EOT) {
            // an abort follows a failed read inside a frame or a refused length
            const unsigned int announced = n >= 3 ? seen[n - 2] << 8 | seen[n - 1] : 1;
            CHECK(failed || ((announced == 0 || announced > 4096) && (seen[n - 3] == P::STX || seen[n - 3] == P::DC2)));
        } else {
            CHECK(data[0] == P::ACK || data[0] == P::NAK);
            const std::size_t size = lastArraySize();
            CHECK(size >= 1 && size <= 4096 && n >= size + 4);
            const std::uint8_t* frame = &seen[n - size - 4];
            CHECK((frame[0] == P::STX || frame[0] == P::DC2) && std::size_t(frame[1] << 8 | frame[2]) == size);
            std::uint8_t check = 0;
            for (std::size_t i = 0; i < size; ++i) check ^= frame[3 + i];
            CHECK((check == frame[3 + size]) == (data[0] == P::ACK));
            naks += data[0] == P::NAK;
            status = frame[0] == P::DC2;
        }
        last = data[0];
        count = 1;
        return 0;
    }
    int isOpened() override { return exhausted() ? Communication::CommNotConnected : 0; }
    int open() override { return 0; }
    int close() override { return 0; }
    int setReadTimeouts(unsigned int, unsigned int) override { return 0; }
    int flush() override { return 0; }
    int setOpenFlag(bool) override { return 0; }

    std::uint8_t last = 0; // the last byte written in this call
    int naks = 0;
    bool status = false; // the last frame answered was a status frame

private:
    const std::uint8_t* at;
    const std::uint8_t* end;
    std::vector<std::uint8_t> seen; // bytes read in this call
    bool failed = false;            // the last read failed
};

// Documented results of receiving, and the channel's own (105, 106, 107).
const std::set<unsigned int> known{0, 202, 204, 206, 302, 303, 304, 305, 308, 309, 310, 311, 312, 315, 317, 105, 106, 107};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        auto* line = new FuzzLine(data, size);
        CECRProto proto;
        proto.setCommunication(line);
        CTLVMessage message; // one object for the whole dialogue, as a register collects a receipt
        std::vector<CTLVTag*> tags;
        for (int i = 0; i < 64 && !line->exhausted(); ++i) {
            line->startCall();
            const unsigned int rc = proto.recvMessage(message);
            const std::uint8_t last = line->last;
            CHECK(known.count(rc));
            CHECK((rc != 0 && rc != 312) || last == P::ACK);
            CHECK(last != P::ACK || rc == 0 || rc == 312 || rc == 204 || rc == 206);
            CHECK(rc != 0 || !line->status);
            CHECK(line->naks <= 3 && (rc != 303 || line->naks == 3) && (rc != 311 || last == P::NAK));
            CHECK((rc != 309 && rc != 310) || last == P::EOT);
            message.getAllTags(tags);
            unsigned int previous = 0, number = 0;
            for (CTLVTag* tag : tags) {
                CHECK(tag->getType(number) == 0 && (tag == tags[0] || number > previous));
                previous = number;
            }
        }
    }
    CHECK(bigBlocksInUse() == 0);
    return 0;
}
