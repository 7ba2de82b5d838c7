// The protocol object, its result codes and the single control bytes.
#include "ecrlink/ECRProto.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

#include <cstring>

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::LogCapture;
using testing_support::ScriptedChannel;

namespace {

TEST(ECRProtoCodes, TextTableInItsOrder) {
    const char* expected[12] = {"General Error.",        "Timeout occurred.",
                                "No Receive Attempts.",  "EOT Received.",
                                "No CRC Received.",      "No ACK Received.",
                                "Unknown ACK received.", "Unknown STX received.",
                                "Max Message size exceeded.", "Broken status message received",
                                "Empty Message.",        "Status Message received"};
    for (int i = 0; i < 12; ++i) EXPECT_STREQ(aECRPErrors[i], expected[i]) << i;
}

TEST(ECRProtoCodes, TextOfEachCode) {
    const std::pair<unsigned int, const char*> cases[] = {
        {302, "Timeout occurred."},      {303, "No Receive Attempts."},  {304, "EOT Received."},
        {305, "No CRC Received."},       {306, "No ACK Received."},      {307, "Unknown ACK received."},
        {308, "Unknown STX received."},  {309, "Max Message size exceeded."},
        {310, "Empty Message."},         {311, "Broken status message received"},
        {312, "Status Message received"}};
    for (const auto& [code, text] : cases) EXPECT_STREQ(ecrpErrorText(code), text) << code;
    for (unsigned int code : {0u, 101u, 105u, 314u, 315u, 317u, 313u, 999u}) EXPECT_EQ(ecrpErrorText(code), nullptr);
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
    EXPECT_EQ(proto.firstTimeout(), 100u);
    EXPECT_EQ(proto.secondTimeout(), 100u);
    EXPECT_EQ(proto.sendByte(0x06), 314u);
    EXPECT_EQ(proto.sendAbort(), 314u);
    EXPECT_THAT(log.texts(), ElementsAre("error: bad communication", "sending abort", "error: bad communication"));
}

TEST(ECRProto, TimeoutsStoredCrosswiseAndResetByANewChannel) {
    CECRProto proto;
    proto.setTimeouts(7, 9);
    EXPECT_EQ(proto.firstTimeout(), 9u);
    EXPECT_EQ(proto.secondTimeout(), 7u);
    EXPECT_EQ(proto.setCommunication(nullptr), 314u);
    EXPECT_EQ(proto.firstTimeout(), 9u) << "a refused channel changes nothing";
    EXPECT_EQ(proto.setCommunication(new ScriptedChannel), 0u);
    EXPECT_EQ(proto.firstTimeout(), 100u);
    EXPECT_EQ(proto.secondTimeout(), 100u);
}

TEST(ECRProto, OwnsItsChannel) {
    bool firstGone = false, secondGone = false;
    auto* first = new ScriptedChannel(&firstGone);
    {
        CECRProto proto;
        ASSERT_EQ(proto.setCommunication(first), 0u);
        EXPECT_EQ(proto.setCommunication(nullptr), 314u);
        EXPECT_FALSE(firstGone) << "null must not replace the held channel";
        EXPECT_EQ(proto.setCommunication(first), 0u);
        EXPECT_FALSE(firstGone) << "the held channel handed in again is kept";
        EXPECT_EQ(proto.isOpened(), 0u);
        EXPECT_EQ(proto.setCommunication(new ScriptedChannel(&secondGone)), 0u);
        EXPECT_TRUE(firstGone);
        EXPECT_FALSE(secondGone);
    }
    EXPECT_TRUE(secondGone);
}

TEST(ECRProto, OpenPassesTheFlagOnlyAfterSuccess) {
    struct Case {
        int openRc;
        int flagRc;
        bool flag;
        unsigned int result;
        std::vector<std::string> calls;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {0, 0, true, 0, {"open() -> 0", "setOpenFlag(true) -> 0"}, {}},
        {0, 9, false, 0, {"open() -> 0", "setOpenFlag(false) -> 9"}, {}},
        {7, 0, true, 7, {"open() -> 7"}, {"error: communication cannot open"}},
    };
    for (const Case& c : cases) {
        LogCapture log;
        auto* channel = new ScriptedChannel;
        channel->openResult(c.openRc).openFlagResult(c.flagRc);
        CECRProto proto;
        proto.setCommunication(channel);
        EXPECT_EQ(proto.open(c.flag), c.result);
        EXPECT_EQ(channel->calls(), c.calls);
        EXPECT_EQ(log.texts(), c.log);
    }
}

TEST(ECRProto, CloseAndIsOpenedPassTheChannelsCodeThrough) {
    auto* channel = new ScriptedChannel;
    channel->closeResult(42).isOpenedResult(105);
    CECRProto proto;
    proto.setCommunication(channel);
    EXPECT_EQ(proto.close(), 42u);
    EXPECT_EQ(proto.isOpened(), 105u);
    EXPECT_EQ(proto.isOpened(), 0u);
    EXPECT_EQ(proto.isOpened(), 0u) << "close keeps the channel held";
}

TEST(ControlBytes, WriteExactlyOneByteUntranslated) {
    for (int value : {0x00, 0x06, 0x15, 0xFF}) {
        LogCapture log;
        auto* channel = new ScriptedChannel;
        CECRProto proto;
        proto.setCommunication(channel);
        EXPECT_EQ(proto.sendByte(static_cast<unsigned char>(value)), 0u);
        EXPECT_EQ(channel->written(), testing_support::Bytes{static_cast<std::uint8_t>(value)});
        EXPECT_EQ(channel->calls().size(), 2u);
        EXPECT_THAT(log.texts(), IsEmpty());
    }
}

TEST(ControlBytes, AbortWritesEotAndLogsOneLine) {
    LogCapture log;
    auto* channel = new ScriptedChannel;
    CECRProto proto;
    proto.setCommunication(channel);
    EXPECT_EQ(proto.sendAbort(), 0u);
    EXPECT_THAT(channel->calls(), ElementsAre("isOpened() -> 0", "write(04) -> 0"));
    EXPECT_THAT(log.texts(), ElementsAre("sending abort"));
}

TEST(ControlBytes, ChannelCodesComeBackUnchanged) {
    struct Case {
        int isOpenedRc;
        int writeRc;
        unsigned int result;
        std::size_t written;
    };
    // Not open: nothing written. A partial or failed write is not repeated.
    const Case cases[] = {{105, 0, 105, 0}, {3, 0, 3, 0}, {0, 116, 116, 0}, {0, 55, 55, 1}};
    for (const Case& c : cases) {
        for (bool abort : {false, true}) {
            LogCapture log;
            auto* channel = new ScriptedChannel;
            channel->isOpenedResult(c.isOpenedRc).writeResult(c.writeRc, c.writeRc == 116 ? 0 : 1);
            CECRProto proto;
            proto.setCommunication(channel);
            EXPECT_EQ(abort ? proto.sendAbort() : proto.sendByte(0x15), c.result);
            EXPECT_EQ(channel->written().size(), c.written);
            EXPECT_EQ(channel->calls().size(), c.isOpenedRc ? 1u : 2u);
            EXPECT_EQ(log.texts().size(), abort ? 1u : 0u);
        }
    }
}

} // namespace
