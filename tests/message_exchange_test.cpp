// Whole messages over the scripted channel: every result of sendMessage and recvMessage.
#include "ecrlink/ECRProto.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

using testing::ElementsAre;
using testing_support::frame;
using testing_support::hex;
using testing_support::LogCapture;
using testing_support::ScriptedChannel;

namespace {

struct Link {
    ScriptedChannel* channel = new ScriptedChannel;
    CECRProto proto;
    Link() { proto.setCommunication(channel); }
};

TEST(SendMessage, AcknowledgedMessageGoesOutAsOneFrameWithTheDumpsXor) {
    const std::pair<CTLVTag*, const char*> cases[] = {
        {new CTLVTag(1, "AB"), "02 00 0a 00 00 00 01 00 00 00 02 41 42 00"}, // bytes cancel pairwise
        {new CTLVTag(1, hex("07").data(), 1), "02 00 09 00 00 00 01 00 00 00 01 07 07"},
    };
    for (const auto& [tag, frameHex] : cases) {
        LogCapture log;
        Link link;
        link.channel->arrive("06");
        CTLVMessage message;
        message.addTag(tag);
        EXPECT_EQ(link.proto.sendMessage(message), 0u);
        EXPECT_THAT(link.channel->calls(),
                    ElementsAre("isOpened() -> 0", "flush() -> 0", std::string("write(") + frameHex + ") -> 0",
                                "setReadTimeouts(0, 6000) -> 0", "read(1) -> 0 [06]"));
        EXPECT_THAT(log.texts(), ElementsAre("sending message", "ACK is received", "sending message ok!"));
    }
}

TEST(SendMessage, RefusedBeforeAnythingIsWritten) {
    struct Case {
        const char* name;
        int isOpened;
        std::vector<CTLVTag*> tags;
        unsigned int result;
        const char* failure; // logged after "sending message"
    };
    std::vector<unsigned char> big(65536 - 8, 'x'); // a dump one byte longer than a frame can carry
    Case cases[] = {
        {"not open", 105, {new CTLVTag(1, 5u)}, 105, nullptr},
        {"empty", 0, {}, 310, "error: empty message"},
        {"tag without value", 0, {new CTLVTag(1, 5u), new CTLVTag(2)}, 205, "error: when get dump length"},
        {"too big", 0, {new CTLVTag(1, big.data(), static_cast<unsigned int>(big.size()))}, 309,
         "error: message is bigger than allowable maximum size"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Link link;
        link.channel->isOpenedResult(c.isOpened);
        CTLVMessage message;
        for (CTLVTag* tag : c.tags) message.addTag(tag);
        EXPECT_EQ(link.proto.sendMessage(message), c.result);
        EXPECT_THAT(link.channel->calls(), ElementsAre("isOpened() -> " + std::to_string(c.isOpened)));
        std::vector<std::string> expected{"sending message"};
        if (c.failure) expected.push_back(c.failure);
        EXPECT_EQ(log.texts(), expected);
    }
    LogCapture log;
    CECRProto unconnected;
    CTLVMessage message;
    EXPECT_EQ(unconnected.sendMessage(message), 314u);
    EXPECT_THAT(log.texts(), ElementsAre("sending message", "error: bad communication"));
}

TEST(SendMessage, FrameErrorsComeBackUnchanged) {
    const std::pair<const char*, unsigned int> cases[] = {{"15 15 15", 303}, {"15 06", 0}, {"04", 304}, {"", 306}, {"05", 307}};
    for (const auto& [replies, result] : cases) {
        SCOPED_TRACE(replies);
        LogCapture log;
        Link link;
        link.channel->trickle(replies);
        CTLVMessage message;
        message.addTag(new CTLVTag(3, 1250u));
        EXPECT_EQ(link.proto.sendMessage(message), result);
        EXPECT_EQ(log.texts().back() == "sending message ok!", result == 0);
    }
}

TEST(RecvMessage, ParsesDataAndStatusFrames) {
    struct Case {
        const char* name;
        std::uint8_t start;
        const char* dump;
        unsigned int result;
        const char* lastLog;
    };
    const Case cases[] = {
        {"tag 1 holds 13: a status message", 0x02, "01 00 00 00 04 00 00 00 0d 00 00 00", 312, "STX is received"},
        {"tag 1 holds 12", 0x02, "01 00 00 00 04 00 00 00 0c 00 00 00", 0, "message from terminal is received"},
        {"no tag 1", 0x02, "02 00 00 00 02 00 00 00 41 42", 0, "message from terminal is received"},
        {"not parsable", 0x02, "02 00 00 00 09 00 00 00 41 42", 206,
         "error: cannot recognize message (parsing failed) | rc = 206"},
        {"status frame", 0x12, "05 00 00 00 01 00 00 00 41", 312, "status message is received"},
        {"status frame not parsable", 0x12, "05 00 00", 206, "Status message is received"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Link link;
        link.channel->arrive(frame(c.start, hex(c.dump)));
        CTLVMessage message;
        EXPECT_EQ(link.proto.recvMessage(message), c.result);
        EXPECT_EQ(link.channel->written(), hex("06"));
        EXPECT_EQ(log.texts().back(), c.lastLog);
    }
    LogCapture log;
    CECRProto unconnected;
    CTLVMessage message;
    EXPECT_EQ(unconnected.recvMessage(message), 314u);
    EXPECT_THAT(log.texts(), ElementsAre("error: bad communication"));
}

TEST(RecvMessage, FailedReceptionAsksWhetherTheLineIsLost) {
    struct Case {
        const char* name;
        const char* arrival;
        int isOpened;
        unsigned int result;
        bool asked;
    };
    const Case cases[] = {
        {"idle line, channel lost", "", 105, 105, true},
        {"idle line, channel fine", "", 0, 302, true},
        {"idle line, channel unusable", "", 9, 302, true},
        {"check-terminal byte", "07", 105, 315, false},
        {"abort", "04", 0, 304, true},
        {"check byte missing, channel lost", "02 00 02 41 42", 105, 105, true},
        {"check byte missing, channel fine", "02 00 02 41 42", 0, 305, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Link link;
        if (*c.arrival) link.channel->arrive(c.arrival);
        link.channel->isOpenedAlways(c.isOpened);
        CTLVMessage message;
        EXPECT_EQ(link.proto.recvMessage(message), c.result);
        EXPECT_EQ(link.channel->calls().back().rfind("isOpened", 0) == 0, c.asked);
        const std::vector<std::string> texts = log.texts();
        EXPECT_EQ(!texts.empty() && texts.back() == "error: communication is not connected", c.result == 105);
    }
}

} // namespace
