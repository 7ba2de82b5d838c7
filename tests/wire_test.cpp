// SPDX-License-Identifier: MIT
// The frame parser and the dump walk that every reader of the line shares.
#include "wire/CheckByte.h"
#include "wire/DumpWalk.h"
#include "wire/FrameParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ecrlink::wire::FrameParser;
using Bytes = std::vector<unsigned char>;

namespace {

// What the parser reports for `bytes` (which it may change), one event per line piece.
std::string events(FrameParser& parser, Bytes& bytes) {
    std::string out;
    for (unsigned char& byte : bytes) {
        switch (parser.take(byte)) {
        case FrameParser::Got::Control: out += "ctl " + std::to_string(byte) + "; "; break;
        case FrameParser::Got::Frame:
            out += std::to_string(parser.frame().start) + " [" +
                   std::string(parser.frame().data.begin(), parser.frame().data.end()) + "] " +
                   (parser.frame().checkOk ? "ok; " : "bad; ");
            break;
        case FrameParser::Got::Nothing: break;
        }
    }
    return out;
}
std::string events(FrameParser& parser, Bytes&& bytes) { return events(parser, bytes); }

struct Blank final : FrameParser::DataHook {
    void frameBegins() override { ++frames; }
    void dataByte(unsigned char& byte) override { byte = '*'; }
    int frames = 0;
};

} // namespace

TEST(FrameParser, FramesControlBytesAndBadChecks) {
    const struct {
        Bytes in;
        const char* out;
    } cases[] = {
        {{0x02, 0x00, 0x02, 'A', 'B', 0x03}, "2 [AB] ok; "},
        {{0x04, 0x12, 0x00, 0x01, 'A', 0x40, 0x06}, "ctl 4; 18 [A] bad; ctl 6; "},
        {{0x02, 0x00, 0x00, 0x00, 0x15}, "2 [] ok; ctl 21; "},
        // Control bytes inside a frame are data: the length delimits it.
        {{0x02, 0x00, 0x02, 0x04, 0x02, 0x06, 0x15}, "2 [\x04\x02] ok; ctl 21; "},
    };
    for (const auto& c : cases) {
        FrameParser parser;
        EXPECT_EQ(events(parser, Bytes(c.in)), c.out);
    }
}

TEST(FrameParser, FrameInProgressAndReset) {
    FrameParser parser;
    events(parser, {0x02, 0x00});
    EXPECT_TRUE(parser.inFrame());
    EXPECT_FALSE(parser.lengthKnown());
    events(parser, {0x03, 'A'});
    EXPECT_TRUE(parser.lengthKnown());
    EXPECT_EQ(parser.announced(), 3u);
    EXPECT_EQ(parser.frame().data, Bytes{'A'});
    parser.reset();
    EXPECT_EQ(events(parser, {0x06}), "ctl 6; ");
}

// A hook that changes the data keeps a good frame good and a bad one bad.
TEST(FrameParser, ChangedDataGetsAMatchingCheckByte) {
    for (bool good : {true, false}) {
        Blank hook;
        FrameParser parser(&hook);
        Bytes frame{0x02, 0x00, 0x03, 'p', 'i', 'n', static_cast<unsigned char>('p' ^ 'i' ^ 'n' ^ (good ? 0 : 1))};
        EXPECT_EQ(events(parser, frame), good ? "2 [***] ok; " : "2 [***] bad; ");
        const unsigned char shown = ecrlink::wire::checkByteOf(parser.frame().data.data(), 3);
        EXPECT_EQ(frame.back() == shown, good);
        EXPECT_EQ(hook.frames, 1);
    }
}

TEST(DumpWalk, BothOrdersAndAValueRunningPastTheEnd) {
    using ecrlink::wire::ByteOrder;
    const Bytes lsb{1, 0, 0, 0, 2, 0, 0, 0, 'A', 'B', 7, 0, 0, 0, 9, 0, 0, 0, 'C'};
    const Bytes msb{0, 0, 0, 1, 0, 0, 0, 2, 'A', 'B', 0, 0, 0, 7, 0, 0, 0, 9, 'C'};
    for (const auto& sample : {std::pair{lsb, ByteOrder::LsbFirst}, std::pair{msb, ByteOrder::MsbFirst}}) {
        const Bytes& dump = sample.first;
        const ByteOrder order = sample.second;
        std::string seen;
        const auto end = ecrlink::wire::walkDump(dump.data(), dump.size(), order, [&](const auto& r) {
            seen += std::to_string(r.number) + ":" + std::to_string(r.length) + ":" +
                    std::string(dump.begin() + r.value, dump.begin() + r.value + r.present(dump.size())) + " ";
        });
        EXPECT_EQ(seen, "1:2:AB 7:9:C ");
        EXPECT_TRUE(end.overrun);
        EXPECT_EQ(end.at, 10u);
        EXPECT_FALSE(end.whole(dump.size()));
    }
    const Bytes shortTail{1, 0, 0, 0, 0, 0, 0, 0, 5, 5, 5};
    const auto end = ecrlink::wire::walkDump(shortTail.data(), shortTail.size(), ByteOrder::LsbFirst, [](const auto&) {});
    EXPECT_EQ(end.at, 8u);
    EXPECT_FALSE(end.overrun);
}
