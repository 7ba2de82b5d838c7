#include "ecrlink/ECRProto.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

#include <climits>
#include <sstream>

using namespace testing_support;

namespace {

// Script tokens: Fn flush result, Wn/k write result taking k bytes, Tn time-out result,
// R a read answering 0 with no byte, else a reply byte in hex.
ScriptedChannel* play(CECRProto& proto, const std::string& script) {
    auto* ch = new ScriptedChannel;
    proto.setCommunication(ch);
    std::istringstream in(script);
    for (std::string t; in >> t;) {
        const int n = std::atoi(t.c_str() + 1), k = std::atoi(t.c_str() + t.find('/') + 1);
        if (t[0] == 'F') ch->flushResult(n);
        else if (t[0] == 'W') ch->writeResult(n, k);
        else if (t[0] == 'T') ch->timeoutResult(n);
        else if (t[0] == 'R') ch->readRaw(0, {}, 0);
        else ch->arrive(t);
    }
    return ch;
}

const std::string Frame = "write(02 00 03 01 02 04 07) -> 0; ";
// One attempt writing the frame of 01 02 04 with check byte 07, then reading the reply.
std::string attempt(const std::string& reply) {
    return "flush() -> 0; " + Frame + "setReadTimeouts(0, 6000) -> 0; read(1) -> " + reply;
}
const std::string Expired = "Attempts is expired during send";

// A null script runs without a channel; every other row sends 01 02 04 with check byte 07, announcing `length`.
struct SendCase {
    const char* name; const char* script; int attempts; unsigned int rc; std::string calls, logs; unsigned int length = 3; };

const SendCase sendCases[] = {
    {"NakThenAck", "15 06", 3, 0, attempt("0 [15]; ") + attempt("0 [06]"), "NAK is received; ACK is received"},
    {"FlushFailsThenNakToTheEnd", "F9 15 15", 3, 303, "flush() -> 9; " + attempt("0 [15]; ") + attempt("0 [15]"),
     "error: communication flush failed; NAK is received; NAK is received; " + Expired},
    {"Eot", "04", 3, 304, attempt("0 [04]; write(04) -> 0"), "error: Abort is received"},
    {"UnknownReply", "05", 3, 307, attempt("0 [05]; write(04) -> 0"), "error: Unknown byte is received"},
    {"NoReplyIsNotRepeated", "", 3, 306, attempt("106"), "error: communication read ACK, rc = 106; error: ACK = 0"},
    {"ReadWithoutByte", "R", 3, 306, attempt("0"), "error: communication read ACK, rc = 0; error: ACK = 0"},
    {"WriteThenTimeoutFail", "W-2/0 T5 06", 3, 0, "flush() -> 0; write() -> -2; flush() -> 0; " + Frame +
     "setReadTimeouts(0, 6000) -> 5; " + attempt("0 [06]"),
     "error: communication write | rc = -2; error: communication set read timeouts; ACK is received"},
    {"PartialWrites", "W116/2 W107/0 W116/2 W116/3 W116/2 06", 2, 0, "flush() -> 0; write(02 00) -> 116; write() -> 107; "
     "flush() -> 0; write(02 00) -> 116; write(03 01 02) -> 116; write(04 07) -> 116; setReadTimeouts(0, 6000) -> 0; "
     "read(1) -> 0 [06]", "error: communication write | rc = 107; ACK is received"},
    {"NoChannel", nullptr, 3, 314, "", "error: bad communication"},
    {"TooBigToCount", "06", 3, 309, "", "error: message is bigger than allowable maximum size", UINT_MAX - 3},
    {"NoAttempts", "06", 0, 303, "", Expired},
    {"NegativeAttempts", "06", -1, 303, "", Expired},
};

TEST(EcrSend, WritesFrameAndActsOnReply) {
    const unsigned char data[] = {0x01, 0x02, 0x04};
    for (const SendCase& c : sendCases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        CECRProto proto;
        auto* ch = c.script ? play(proto, c.script) : nullptr;
        EXPECT_EQ(proto.ecrSend(data, c.length, 0x07, c.attempts), c.rc);
        EXPECT_EQ(ch ? join(ch->calls()) : "", c.calls);
        EXPECT_EQ(join(log.texts()), c.logs);
    }
}

TEST(EcrSendFrame, LengthIsBigEndianAndCheckByteIsPassedThrough) {
    CECRProto proto;
    auto* ch = play(proto, "06 06");
    const Bytes data(300, 0xa5);
    EXPECT_EQ(proto.ecrSend(nullptr, 0, 0x5a, 1), 0u);
    EXPECT_EQ(proto.ecrSend(data.data(), 300, 0x00, 1), 0u);
    EXPECT_EQ(toHex(ch->written()), "02 00 00 5a 02 01 2c " + toHex(data) + " 00");
}

} // namespace
