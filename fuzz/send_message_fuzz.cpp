// Sending a message against whatever the line answers must end with a known
// result and write nothing but the message's frame (from its start or from
// where a partial write stopped) and single EOT bytes. The input holds the
// message (a count of tags, then number, length and value of each) and then
// the line: before each channel call one control byte says how it goes
// (a result of 0, 116 with a count, a time-out, 105, or a count larger than asked).
#include "ecrlink/Channel.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/Logger.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Input {
    const std::uint8_t* at;
    const std::uint8_t* end;
    std::uint8_t take() { return at < end ? *at++ : 0; }
};

class FuzzLine : public Communication::Channel {
public:
    FuzzLine(Input& in, std::vector<std::uint8_t>& frame) : in(in), frame(frame) {}
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override {
        count = 0;
        const std::uint8_t c = in.take();
        if (c < 0x40 || wanted == 0) return c < 0x20 ? 106 : 105;
        buffer[0] = in.take();
        count = c >= 0xF0 ? wanted + 1 : 1;
        return 0;
    }
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        const bool single = length == 1 && data[0] == CECRProto::EOT;
        const bool slice = length <= frame.size() && std::memcmp(data, frame.data() + frame.size() - length, length) == 0;
        if (!single && !slice) std::abort(); // a byte the protocol does not allow
        const std::uint8_t c = in.take();
        count = c < 0x80 ? length : c < 0xC0 ? (length * (c & 0x3F)) / 64 : c < 0xE0 ? length + 1 : 0;
        return c < 0x80 ? 0 : c < 0xE0 ? 116 : 107;
    }
    int isOpened() override { return in.take() == 0xFF ? 105 : 0; }
    int open() override { return 0; }
    int close() override { return 0; }
    int setReadTimeouts(unsigned int, unsigned int) override { return in.take() == 0xFE ? 107 : 0; }
    int flush() override { return in.take() == 0xFD ? 107 : 0; }
    int setOpenFlag(bool) override { return 0; }

private:
    Input& in;
    std::vector<std::uint8_t>& frame;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Logger::get().enable(Logger::Level(1)); // the log texts are built on every path
    Input in{data, data + size};
    CTLVMessage message;
    for (int tags = in.take() % 8; tags > 0; --tags) {
        const unsigned int number = in.take();
        const unsigned int length = std::min<std::size_t>(in.take(), in.end - in.at);
        message.addTag(length ? new CTLVTag(number, in.at, length) : new CTLVTag(number));
        in.at += length;
    }
    // The frame the message must go out as, built the plain way.
    std::vector<std::uint8_t> frame;
    unsigned int dumpLength = 0;
    if (message.getDumpLength(dumpLength) == 0 && dumpLength > 0) {
        std::vector<std::uint8_t> dump(dumpLength);
        message.buildDump(dump.data(), dumpLength, dumpLength);
        std::uint8_t check = 0;
        for (std::uint8_t b : dump) check ^= b;
        frame = {CECRProto::STX, std::uint8_t(dumpLength >> 8), std::uint8_t(dumpLength)};
        frame.insert(frame.end(), dump.begin(), dump.end());
        frame.push_back(check);
    }
    CECRProto proto;
    proto.setCommunication(new FuzzLine(in, frame));
    switch (proto.sendMessage(message)) {
    case 0: case 105: case 205: case 303: case 304: case 306: case 307: case 310:
        break;
    default:
        std::abort();
    }
    Logger::get().drain();
    return 0;
}
