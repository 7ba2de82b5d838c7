// Whole messages over the scripted channel: every result of sendMessage and recvMessage.
#include "ecrlink/ECRProto.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::Bytes;
using testing_support::hex;
using testing_support::LogCapture;
using testing_support::ScriptedChannel;

namespace {

/// A frame as the terminal sends it, with its check byte computed.
Bytes frame(std::uint8_t start, const Bytes& data) {
    Bytes out{start, static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size() & 0xFF)};
    std::uint8_t check = 0;
    for (std::uint8_t b : data) check ^= b;
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(check);
    return out;
}

struct Link {
    ScriptedChannel* channel = new ScriptedChannel;
    CECRProto proto;
    Link() { proto.setCommunication(channel); }
};

TEST(SendMessage, AcknowledgedMessageGoesOutAsOneFrame) {
    LogCapture log;
    Link link;
    link.channel->arrive("06");
    CTLVMessage message;
    message.addTag(new CTLVTag(1, "AB")); // dump bytes cancel pairwise: check byte 0
    EXPECT_EQ(link.proto.sendMessage(message), 0u);
    EXPECT_THAT(link.channel->calls(),
                ElementsAre("isOpened() -> 0", "flush() -> 0", "write(02 00 0a 00 00 00 01 00 00 00 02 41 42 00) -> 0",
                            "setReadTimeouts(0, 6000) -> 0", "read(1) -> 0 [06]"));
    EXPECT_THAT(log.texts(), ElementsAre("sending message", "ACK is received", "sending message ok!"));
}

TEST(SendMessage, CheckByteIsTheXorOfTheDump) {
    Link link;
    link.channel->arrive("06");
    CTLVMessage message;
    const unsigned char seven = 0x07;
    message.addTag(new CTLVTag(1, &seven, 1));
    ASSERT_EQ(link.proto.sendMessage(message), 0u);
    EXPECT_EQ(link.channel->written(), hex("02 00 09 00 00 00 01 00 00 00 01 07 07"));
}

TEST(SendMessage, RefusedBeforeAnythingIsWritten) {
    struct Case {
        const char* name;
        int isOpened;
        std::vector<CTLVTag*> tags;
        unsigned int result;
        std::vector<std::string> log;
    };
    std::vector<Case> cases;
    cases.push_back({"not open", 105, {new CTLVTag(1, 5u)}, 105, {"sending message"}});
    cases.push_back({"empty", 0, {}, 310, {"sending message", "error: empty message"}});
    cases.push_back({"tag without value", 0, {new CTLVTag(1, 5u), new CTLVTag(2)}, 205,
                     {"sending message", "error: when get dump length"}});
    std::vector<unsigned char> big(65536 - 8, 'x'); // dump of 65536 bytes: one more than a frame can carry
    cases.push_back({"too big", 0, {new CTLVTag(1, big.data(), static_cast<unsigned int>(big.size()))}, 309,
                     {"sending message", "error: message is bigger than allowable maximum size"}});
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Link link;
        link.channel->isOpenedResult(c.isOpened);
        CTLVMessage message;
        for (CTLVTag* tag : c.tags) message.addTag(tag);
        EXPECT_EQ(link.proto.sendMessage(message), c.result);
        EXPECT_THAT(link.channel->calls(), ElementsAre("isOpened() -> " + std::to_string(c.isOpened)));
        EXPECT_EQ(log.texts(), c.log);
    }
}

TEST(SendMessage, WithoutChannel) {
    LogCapture log;
    CECRProto proto;
    CTLVMessage message;
    EXPECT_EQ(proto.sendMessage(message), 314u);
    EXPECT_THAT(log.texts(), ElementsAre("sending message", "error: bad communication"));
}

TEST(SendMessage, FrameErrorsComeBackUnchanged) {
    struct Case {
        const char* replies;
        unsigned int result;
        std::size_t frames;
    };
    const Case cases[] = {{"15 15 15", 303, 3}, {"15 06", 0, 2}, {"04", 304, 1}, {"", 306, 1}, {"05", 307, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.replies);
        LogCapture log;
        Link link;
        link.channel->trickle(c.replies);
        CTLVMessage message;
        message.addTag(new CTLVTag(3, 1250u));
        EXPECT_EQ(link.proto.sendMessage(message), c.result);
        const std::vector<std::string> texts = log.texts();
        EXPECT_EQ(texts.back() == "sending message ok!", c.result == 0);
        std::size_t flushes = 0;
        for (const std::string& call : link.channel->calls()) flushes += call.rfind("flush", 0) == 0;
        EXPECT_EQ(flushes, c.frames);
    }
}

TEST(RecvMessage, WithoutChannelNothingIsRead) {
    LogCapture log;
    CECRProto proto;
    CTLVMessage message;
    EXPECT_EQ(proto.recvMessage(message), 314u);
    EXPECT_THAT(log.texts(), ElementsAre("error: bad communication"));
}

TEST(RecvMessage, DataFrames) {
    struct Case {
        const char* name;
        const char* dump;
        unsigned int result;
        std::vector<std::string> lastLog;
    };
    const Case cases[] = {
        {"tag 1 holds 13: a status message", "01 00 00 00 04 00 00 00 0d 00 00 00", 312, {"STX is received"}},
        {"tag 1 holds 12", "01 00 00 00 04 00 00 00 0c 00 00 00", 0, {"message from terminal is received"}},
        {"no tag 1", "02 00 00 00 02 00 00 00 41 42", 0, {"message from terminal is received"}},
        {"not parsable", "02 00 00 00 09 00 00 00 41 42", 206,
         {"error: cannot recognize message (parsing failed) | rc = 206"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Link link;
        link.channel->arrive(frame(0x02, hex(c.dump)));
        CTLVMessage message;
        EXPECT_EQ(link.proto.recvMessage(message), c.result);
        EXPECT_EQ(link.channel->written(), hex("06"));
        const std::vector<std::string> texts = log.texts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), c.lastLog.back());
    }
}

TEST(RecvMessage, StatusFrames) {
    for (bool parsable : {true, false}) {
        LogCapture log;
        Link link;
        link.channel->arrive(frame(0x12, hex(parsable ? "05 00 00 00 01 00 00 00 41" : "05 00 00")));
        CTLVMessage message;
        EXPECT_EQ(link.proto.recvMessage(message), parsable ? 312u : 206u);
        EXPECT_EQ(log.texts().back(), parsable ? "status message is received" : "Status message is received");
        EXPECT_EQ(message.findTag(5), parsable);
    }
}

TEST(RecvMessage, FailedReceptionAsksWhetherTheLineIsLost) {
    struct Case {
        const char* name;
        Bytes arrival;
        int isOpened;
        unsigned int result;
        bool asked;
    };
    const Case cases[] = {
        {"idle line, channel lost", {}, 105, 105, true},
        {"idle line, channel fine", {}, 0, 302, true},
        {"idle line, channel unusable", {}, 9, 302, true},
        {"check-terminal byte", hex("07"), 105, 315, false},
        {"abort", hex("04"), 0, 304, true},
        {"check byte missing after data", hex("02 00 02 41 42"), 105, 105, true},
        {"check byte missing, channel fine", hex("02 00 02 41 42"), 0, 305, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Link link;
        if (!c.arrival.empty()) link.channel->arrive(c.arrival);
        link.channel->isOpenedAlways(c.isOpened);
        CTLVMessage message;
        EXPECT_EQ(link.proto.recvMessage(message), c.result);
        EXPECT_EQ(link.channel->calls().back().rfind("isOpened", 0) == 0, c.asked);
        const std::vector<std::string> texts = log.texts();
        EXPECT_EQ(!texts.empty() && texts.back() == "error: communication is not connected", c.result == 105);
    }
}

TEST(RecvMessage, ReceiptCollectedOverSeveralMessages) {
    Link link;
    const char* pieces[] = {"2c 00 00 00 09 00 00 00 01 00 00 00 03 00 00 00 41",
                            "2c 00 00 00 09 00 00 00 02 00 00 00 03 00 00 00 42",
                            "2c 00 00 00 09 00 00 00 03 00 00 00 03 00 00 00 43"};
    for (const char* piece : pieces) link.channel->arrive(frame(0x02, hex(piece)));
    CTLVMessage message;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(link.proto.recvMessage(message), 0u);
        EXPECT_EQ(message.isFileBufferEnd(), i == 2);
    }
    CTLVTag* receipt = nullptr;
    ASSERT_EQ(message.getTag(receipt, 44), 0u);
    char text[4] = {};
    EXPECT_EQ(receipt->getValue(text, sizeof text), 0u);
    EXPECT_STREQ(text, "ABC");
    EXPECT_TRUE(message.IsReceiptPresent());
}

} // namespace
