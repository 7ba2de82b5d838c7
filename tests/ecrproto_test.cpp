// SPDX-License-Identifier: MIT
// The protocol object, its result codes, single control bytes and whole messages over the scripted channel.
#include "ecrlink/ECRProto.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

#include <set>

using namespace testing_support;

TEST(ECRProtoCodes, EveryCodeHasItsTextAtItsIndex) {
    const char* texts[] = {"General Error.", "Timeout occurred.", "No Receive Attempts.", "EOT Received.", "No CRC Received.",
                           "No ACK Received.", "Unknown ACK received.", "Unknown STX received.", "Max Message size exceeded.",
                           "Empty Message.", "Broken status message received", "Status Message received"};
    for (unsigned int code = 301; code <= 312; ++code) EXPECT_STREQ(ecrpErrorText(code), texts[code - 301]) << code;
    for (int i : {0, 8, 9, 10, 11}) EXPECT_EQ(aECRPErrors[i], ecrpErrorText(i == 9 ? 311 : i == 10 ? 310 : 301 + i));
    for (unsigned int code : {0u, 101u, 105u, 313u, 314u, 315u, 317u}) EXPECT_EQ(ecrpErrorText(code), nullptr);
    // Every code the library and its channels return has a text of its own.
    std::set<std::string> all{ecrlinkResultText(999)};
    std::vector<unsigned int> codes{0, 101, 303, 304, 305, 306, 307, 308, 309, 310, 311, 312, 314, 315, 317, 320, 321, 322};
    for (unsigned int code = 102; code <= 116; ++code) codes.push_back(code);
    for (unsigned int code = 201; code <= 207; ++code) codes.push_back(code);
    for (unsigned int code : codes) all.insert(ecrlinkResultText(code));
    EXPECT_EQ(all.size(), codes.size() + 1) << "no two codes share a text, none is unknown";
    EXPECT_STREQ(ecrlinkResultText(Communication::CommInUse), Communication::commErrorText(Communication::CommInUse));
}

TEST(ECRProto, WithoutChannelEveryOperationRefuses) {
    LogCapture log;
    CECRProto proto;
    CTLVMessage message;
    std::vector<char*> list;
    unsigned char byte = 0, *data = nullptr;
    unsigned int length = 0;
    EXPECT_EQ(proto.open(true), 101u);
    EXPECT_EQ(proto.enumerate(list), 0u);
    for (unsigned int rc : {proto.close(), proto.isOpened(), proto.sendByte(6), proto.sendAbort(), proto.ecrSend(&byte, 1, 0, 3),
                            proto.ecrRecv(data, length, 3), proto.readNBytes(&byte, 1), proto.sendMessage(message),
                            proto.recvMessage(message)})
        EXPECT_EQ(rc, 314u);
    const std::string bad = "error: bad communication";
    EXPECT_EQ(log.text(), bad + "; sending abort; " + bad + "; " + bad + "; " + bad + "; " + bad + "; sending message; " + bad +
                              "; " + bad);
}

TEST(ECRProto, OwnsItsChannelAndResetsTheTimeouts) {
    bool firstGone = false, secondGone = false;
    auto* first = new ScriptedChannel("", &firstGone);
    {
        CECRProto proto;
        proto.setTimeouts(7, 9);
        EXPECT_EQ(proto.setCommunication(nullptr), 314u);
        EXPECT_EQ(std::make_pair(proto.firstTimeout(), proto.secondTimeout()), std::make_pair(9u, 7u)) << "kept on a refusal";
        ASSERT_EQ(proto.setCommunication(first), 0u);
        EXPECT_EQ(std::make_pair(proto.firstTimeout(), proto.secondTimeout()), std::make_pair(100u, 100u));
        EXPECT_EQ(proto.setCommunication(nullptr) + proto.setCommunication(first), 314u);
        EXPECT_FALSE(firstGone) << "neither null nor the held channel again replaces it";
        EXPECT_EQ(proto.setCommunication(new ScriptedChannel("", &secondGone)), 0u);
        EXPECT_TRUE(firstGone);
    }
    EXPECT_TRUE(secondGone);
}

TEST(ECRProto, OpenCloseAndIsOpenedTalkToTheChannel) {
    struct Case { const char* script; bool flag; unsigned int result; std::string calls, log; };
    for (const Case& c : {Case{"", true, 0, "open() -> 0; setOpenFlag(true) -> 0", ""},
                          Case{"S9", false, 0, "open() -> 0; setOpenFlag(false) -> 9", ""},
                          Case{"O7", true, 7, "open() -> 7", "error: communication cannot open"}}) {
        LogCapture log;
        ScriptedLink link(std::string(c.script) + ",C42,I105");
        EXPECT_EQ(link.proto.open(c.flag), c.result);
        EXPECT_EQ(link.channel->transcript(), c.calls);
        EXPECT_EQ(log.text(), c.log);
        EXPECT_EQ(link.proto.close(), 42u);
        EXPECT_EQ(link.proto.isOpened(), 105u);
        EXPECT_EQ(link.proto.isOpened(), 0u) << "close keeps the channel held";
    }
}

// A byte goes out untranslated after isOpened; not open: nothing written; a partial or failed write is not repeated.
TEST(ControlBytes, OneByteUntranslatedOrTheChannelsCode) {
    struct Case { bool abort; std::uint8_t byte; const char* script; unsigned int result; const char* calls; };
    for (const Case& c : {Case{false, 0x00, "", 0, "isOpened() -> 0; write(00) -> 0"},
                          Case{false, 0xFF, "", 0, "isOpened() -> 0; write(ff) -> 0"},
                          Case{true, 0x04, "", 0, "isOpened() -> 0; write(04) -> 0"},
                          Case{false, 0x06, "I105", 105, "isOpened() -> 105"}, Case{true, 0x04, "I3", 3, "isOpened() -> 3"},
                          Case{false, 0x15, "W116/0", 116, "isOpened() -> 0; write() -> 116"},
                          Case{true, 0x04, "W55", 55, "isOpened() -> 0; write(04) -> 55"}}) {
        SCOPED_TRACE(c.calls);
        LogCapture log;
        ScriptedLink link(c.script);
        EXPECT_EQ(c.abort ? link.proto.sendAbort() : link.proto.sendByte(c.byte), c.result);
        EXPECT_EQ(link.channel->transcript(), c.calls);
        EXPECT_EQ(log.text(), c.abort ? "sending abort" : "");
    }
}

// The message is made from an incoming dump (headers least significant byte first); it goes out as one frame
// with the outgoing headers (most significant byte first) and the exclusive-or of the dump.
TEST(SendMessage, OneFrameOrARefusalBeforeAnythingIsWritten) {
    struct Case { const char* name; Bytes in; const char* script; unsigned int rc; std::string calls, log; };
    const std::string acked = "setReadTimeouts(0, 6000) -> 0; read(1) -> 0 [06]", sent = "sending message; ";
    const std::string ab = "isOpened() -> 0; flush() -> 0; write(02 00 0a 00 00 00 01 00 00 00 02 41 42 00) -> 0; ";
    const Case cases[] = {
        {"bytes cancel pairwise", record(1, {'A', 'B'}), "06", 0, ab + acked, sent + "ACK is received; sending message ok!"},
        {"check byte", record(1, {7}), "06", 0, "isOpened() -> 0; flush() -> 0; write(02 00 09 00 00 00 01 00 00 00 01 07 07) -> 0; " +
         acked, sent + "ACK is received; sending message ok!"},
        {"refused to the end", record(1, {'A', 'B'}), "15,15,15", 303, "", sent + "NAK is received; NAK is received; "
         "NAK is received; Attempts is expired during send"},
        {"abort", record(1, {'A', 'B'}), "04", 304, "", sent + "error: Abort is received"},
        {"no reply", record(1, {'A', 'B'}), "", 306, "", sent + "error: communication read ACK, rc = 106; error: ACK = 0"},
        {"unknown reply", record(1, {'A', 'B'}), "05", 307, "", sent + "error: Unknown byte is received"},
        {"not open", record(1, {'A', 'B'}), "I105", 105, "isOpened() -> 105", "sending message"},
        {"empty", {}, "", 310, "isOpened() -> 0", sent + "error: empty message"},
        {"tag without value", record(1, {7}) + record(2, {}), "", 205, "isOpened() -> 0", sent + "error: when get dump length"},
        {"longer than a frame", record(1, Bytes(65536 - 8, 'x')), "", 309, "isOpened() -> 0",
         sent + "error: message is bigger than allowable maximum size"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        ScriptedLink link(c.script);
        CTLVMessage message;
        Bytes in = c.in + Bytes{0};
        ASSERT_EQ(message.parseDump(in.data(), unsigned(c.in.size())), 0u);
        EXPECT_EQ(link.proto.sendMessage(message), c.rc);
        if (!c.calls.empty()) {
            EXPECT_EQ(link.channel->transcript(), c.calls);
        }
        EXPECT_EQ(log.text(), c.log);
    }
}

// `last` is the last call on the channel: the ACK of a received frame, or whether the line was asked after a failure.
TEST(RecvMessage, ParsesFramesAndTellsALostLine) {
    struct Case { const char* name; Bytes arrival; int openState; unsigned int rc; const char* last; std::string log; };
    const std::string stx = "STX is received; ", dc2 = "Status message is received", ack = "write(06) -> 0";
    const Case cases[] = {
        {"tag 1 holds 13: a status message", frame(2, record(1, {13, 0, 0, 0})), 0, 312, ack.c_str(), "STX is received"},
        {"tag 1 holds 12", frame(2, record(1, {12, 0, 0, 0})), 0, 0, ack.c_str(), stx + "message from terminal is received"},
        {"no tag 1", frame(2, record(2, {'A', 'B'})), 0, 0, ack.c_str(), stx + "message from terminal is received"},
        {"not parsable", frame(2, hex("02 00 00 00 09 00 00 00 41 42")), 0, 206, ack.c_str(),
         stx + "error: cannot recognize message (parsing failed) | rc = 206"},
        {"status frame", frame(0x12, record(5, {'A'})), 0, 312, ack.c_str(), dc2 + "; status message is received"},
        {"status frame not parsable", frame(0x12, hex("05 00 00")), 0, 206, ack.c_str(), dc2},
        {"idle line, channel lost", {}, 105, 105, "isOpened() -> 105", "error: communication is not connected"},
        {"idle line, channel fine", {}, 0, 302, "isOpened() -> 0", ""},
        {"idle line, channel unusable", {}, 9, 302, "isOpened() -> 9", ""},
        {"check-terminal byte", {7}, 105, 315, "read(1) -> 0 [07]", "Check terminal message is received"},
        {"abort", {4}, 0, 304, "isOpened() -> 0", "Abort is received"},
        {"check byte missing, channel lost", hex("02 00 02 41 42"), 105, 105, "isOpened() -> 105",
         stx + "error: communication read CRC; error: communication is not connected"},
        {"check byte missing, channel fine", hex("02 00 02 41 42"), 0, 305, "isOpened() -> 0", stx + "error: communication read CRC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        ScriptedLink link;
        link.channel->arrive(c.arrival).openState = c.openState;
        CTLVMessage message;
        EXPECT_EQ(link.proto.recvMessage(message), c.rc);
        EXPECT_EQ(link.channel->calls.back(), c.last);
        EXPECT_EQ(log.text(), c.log);
    }
}
