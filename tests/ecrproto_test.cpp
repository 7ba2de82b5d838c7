// The protocol object, its result codes and the single control bytes.
#include "ecrlink/ECRProto.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::LogCapture;
using testing_support::ScriptedChannel;

namespace {

TEST(ECRProtoCodes, EveryCodeHasItsTextAtItsIndex) {
    const char* texts[] = {"General Error.",        "Timeout occurred.",          "No Receive Attempts.",
                           "EOT Received.",         "No CRC Received.",           "No ACK Received.",
                           "Unknown ACK received.", "Unknown STX received.",      "Max Message size exceeded.",
                           "Empty Message.",        "Broken status message received", "Status Message received"};
    for (unsigned int code = 301; code <= 312; ++code) EXPECT_STREQ(ecrpErrorText(code), texts[code - 301]) << code;
    for (int i : {0, 8, 9, 10, 11}) EXPECT_EQ(aECRPErrors[i], ecrpErrorText(i == 9 ? 311 : i == 10 ? 310 : 301 + i));
    for (unsigned int code : {0u, 101u, 105u, 313u, 314u, 315u, 317u}) EXPECT_EQ(ecrpErrorText(code), nullptr);
}

TEST(ECRProto, WithoutChannel) {
    LogCapture log;
    CECRProto proto;
    std::vector<char*> list;
    EXPECT_EQ(proto.close(), 314u);
    EXPECT_EQ(proto.isOpened(), 314u);
    EXPECT_EQ(proto.open(true), 101u);
    EXPECT_EQ(proto.enumerate(list), 0u);
    EXPECT_THAT(list, IsEmpty());
    EXPECT_EQ(proto.sendByte(0x06), 314u);
    EXPECT_EQ(proto.sendAbort(), 314u);
    EXPECT_THAT(log.texts(), ElementsAre("error: bad communication", "sending abort", "error: bad communication"));
}

TEST(ECRProto, OwnsItsChannelAndResetsTheTimeouts) {
    bool firstGone = false, secondGone = false;
    auto* first = new ScriptedChannel(&firstGone);
    {
        CECRProto proto;
        EXPECT_EQ(proto.firstTimeout(), 100u);
        proto.setTimeouts(7, 9);
        EXPECT_EQ(proto.firstTimeout(), 9u);
        EXPECT_EQ(proto.secondTimeout(), 7u);
        EXPECT_EQ(proto.setCommunication(nullptr), 314u);
        EXPECT_EQ(proto.firstTimeout(), 9u) << "a refused channel changes nothing";
        ASSERT_EQ(proto.setCommunication(first), 0u);
        EXPECT_EQ(proto.firstTimeout(), 100u);
        EXPECT_EQ(proto.secondTimeout(), 100u);
        EXPECT_EQ(proto.setCommunication(nullptr), 314u);
        EXPECT_EQ(proto.setCommunication(first), 0u);
        EXPECT_FALSE(firstGone) << "neither null nor the held channel again replaces it";
        EXPECT_EQ(proto.setCommunication(new ScriptedChannel(&secondGone)), 0u);
        EXPECT_TRUE(firstGone);
    }
    EXPECT_TRUE(secondGone);
}

TEST(ECRProto, OpenCloseAndIsOpenedTalkToTheChannel) {
    struct Case {
        int openRc, flagRc;
        bool flag;
        unsigned int result;
        std::vector<std::string> calls, log;
    };
    const Case cases[] = {
        {0, 0, true, 0, {"open() -> 0", "setOpenFlag(true) -> 0"}, {}},
        {0, 9, false, 0, {"open() -> 0", "setOpenFlag(false) -> 9"}, {}},
        {7, 0, true, 7, {"open() -> 7"}, {"error: communication cannot open"}},
    };
    for (const Case& c : cases) {
        LogCapture log;
        auto* channel = new ScriptedChannel;
        channel->openResult(c.openRc).openFlagResult(c.flagRc).closeResult(42).isOpenedResult(105);
        CECRProto proto;
        proto.setCommunication(channel);
        EXPECT_EQ(proto.open(c.flag), c.result);
        EXPECT_EQ(channel->calls(), c.calls);
        EXPECT_EQ(log.texts(), c.log);
        EXPECT_EQ(proto.close(), 42u);
        EXPECT_EQ(proto.isOpened(), 105u);
        EXPECT_EQ(proto.isOpened(), 0u) << "close keeps the channel held";
    }
}

TEST(ControlBytes, OneByteUntranslatedOrTheChannelsCode) {
    struct Case {
        bool abort;
        std::uint8_t byte;
        int isOpenedRc, writeRc;
        unsigned int result;
        const char* calls;
    };
    // Not open: nothing written. A partial or failed write is not repeated.
    const Case cases[] = {
        {false, 0x00, 0, 0, 0, "isOpened() -> 0; write(00) -> 0"},
        {false, 0xFF, 0, 0, 0, "isOpened() -> 0; write(ff) -> 0"},
        {true, 0x04, 0, 0, 0, "isOpened() -> 0; write(04) -> 0"},
        {false, 0x06, 105, 0, 105, "isOpened() -> 105"},
        {true, 0x04, 3, 0, 3, "isOpened() -> 3"},
        {false, 0x15, 0, 116, 116, "isOpened() -> 0; write() -> 116"},
        {true, 0x04, 0, 55, 55, "isOpened() -> 0; write(04) -> 55"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.calls);
        LogCapture log;
        auto* channel = new ScriptedChannel;
        channel->isOpenedResult(c.isOpenedRc).writeResult(c.writeRc, c.writeRc == 116 ? 0 : 1);
        CECRProto proto;
        proto.setCommunication(channel);
        EXPECT_EQ(c.abort ? proto.sendAbort() : proto.sendByte(c.byte), c.result);
        EXPECT_EQ(testing_support::join(channel->calls()), c.calls);
        EXPECT_EQ(log.texts(), c.abort ? std::vector<std::string>{"sending abort"} : std::vector<std::string>{});
    }
}

} // namespace
