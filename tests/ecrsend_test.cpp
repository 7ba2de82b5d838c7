#include "ecrlink/ECRProto.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

#include <climits>
#include <sstream>

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;
using namespace testing_support;

namespace {

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ';');)
        if (part.find_first_not_of(' ') != std::string::npos) parts.push_back(part.substr(part.find_first_not_of(' ')));
    return parts;
}

// One attempt that writes the frame 02 00 03 01 02 04 07 and reads `reply`.
std::string attempt(const std::string& reply) {
    return "flush() -> 0; write(02 00 03 01 02 04 07) -> 0; setReadTimeouts(0, 6000) -> 0; read(1) -> " + reply + "; ";
}

struct SendCase {
    const char* name;
    // Tokens: Fn flush result, Wn[/k] write result taking k bytes, Tn time-out
    // result, Rn/k a read answering n with count k and no byte, else a reply byte in hex.
    const char* script;
    int attempts;
    unsigned int rc;
    std::string calls;
    const char* logs;
};

void play(ScriptedChannel& ch, const std::string& script) {
    std::istringstream in(script);
    for (std::string t; in >> t;) {
        const int n = std::atoi(t.c_str() + 1);
        const auto slash = t.find('/');
        const int k = slash == std::string::npos ? -1 : std::atoi(t.c_str() + slash + 1);
        if (t[0] == 'F') ch.flushResult(n);
        else if (t[0] == 'W') ch.writeResult(n, k);
        else if (t[0] == 'T') ch.timeoutResult(n);
        else if (t[0] == 'R') ch.readRaw(n, {}, static_cast<unsigned int>(k));
        else ch.arrive(t);
    }
}

const SendCase sendCases[] = {
    {"Ack", "06", 3, 0, attempt("0 [06]"), "ACK is received"},
    {"NakThenAck", "15 06", 3, 0, attempt("0 [15]") + attempt("0 [06]"), "NAK is received; ACK is received"},
    {"NakEveryTime", "15 15 15", 3, 303, attempt("0 [15]") + attempt("0 [15]") + attempt("0 [15]"),
     "NAK is received; NAK is received; NAK is received; Attempts is expired during send"},
    {"Eot", "04", 3, 304, attempt("0 [04]") + "write(04) -> 0", "error: Abort is received"},
    {"UnknownReply", "05", 3, 307, attempt("0 [05]") + "write(04) -> 0", "error: Unknown byte is received"},
    {"NoReplyIsNotRepeated", "", 3, 306, attempt("106"), "error: communication read ACK, rc = 106; error: ACK = 0"},
    {"ReadWithoutByte", "R0/0", 3, 306, attempt("0"), "error: communication read ACK, rc = 0; error: ACK = 0"},
    {"FlushFailsAlways", "F9 F9 F9", 3, 303, "flush() -> 9; flush() -> 9; flush() -> 9",
     "error: communication flush failed; error: communication flush failed; error: communication flush failed; "
     "Attempts is expired during send"},
    {"WriteFailsOnce", "W-2/0 06", 3, 0, "flush() -> 0; write() -> -2; " + attempt("0 [06]"),
     "error: communication write | rc = -2; ACK is received"},
    {"TimeoutNotSet", "T5 06", 2, 0,
     "flush() -> 0; write(02 00 03 01 02 04 07) -> 0; setReadTimeouts(0, 6000) -> 5; " + attempt("0 [06]"),
     "error: communication set read timeouts; ACK is received"},
    {"PartialWrites", "W116/2 W116/3 06", 1, 0,
     "flush() -> 0; write(02 00) -> 116; write(03 01 02) -> 116; write(04 07) -> 0; "
     "setReadTimeouts(0, 6000) -> 0; read(1) -> 0 [06]", "ACK is received"},
    {"PartialWritesToTheEnd", "W116/4 W116/3 06", 1, 0,
     "flush() -> 0; write(02 00 03 01) -> 116; write(02 04 07) -> 116; setReadTimeouts(0, 6000) -> 0; "
     "read(1) -> 0 [06]", "ACK is received"},
    {"WriteFailsAfterPiece", "W116/2 W107/0", 1, 303, "flush() -> 0; write(02 00) -> 116; write() -> 107",
     "error: communication write | rc = 107; Attempts is expired during send"},
    {"NoAttempts", "", 0, 303, "", "Attempts is expired during send"},
    {"NegativeAttempts", "", -1, 303, "", "Attempts is expired during send"},
};

class EcrSend : public testing::TestWithParam<SendCase> {};

TEST_P(EcrSend, WritesFrameAndActsOnReply) {
    const SendCase& c = GetParam();
    LogCapture log;
    auto* ch = new ScriptedChannel;
    play(*ch, c.script);
    CECRProto proto;
    proto.setCommunication(ch);
    const unsigned char data[] = {0x01, 0x02, 0x04};
    EXPECT_EQ(proto.ecrSend(data, 3, 0x07, c.attempts), c.rc);
    EXPECT_THAT(ch->calls(), ElementsAreArray(split(c.calls)));
    EXPECT_THAT(log.texts(), ElementsAreArray(split(c.logs)));
}

INSTANTIATE_TEST_SUITE_P(Replies, EcrSend, testing::ValuesIn(sendCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EcrSendFrame, LengthIsBigEndianAndCheckByteIsPassedThrough) {
    auto* ch = new ScriptedChannel;
    ch->arrive("06").arrive("06");
    CECRProto proto;
    proto.setCommunication(ch);
    EXPECT_EQ(proto.ecrSend(nullptr, 0, 0x5a, 1), 0u);
    std::vector<unsigned char> data(300, 0xa5);
    EXPECT_EQ(proto.ecrSend(data.data(), 300, 0x00, 1), 0u);
    const Bytes& out = ch->written();
    ASSERT_EQ(out.size(), 4u + 304u);
    EXPECT_EQ(toHex(out.data(), 4), "02 00 00 5a");
    EXPECT_EQ(toHex(out.data() + 4, 3), "02 01 2c");
    EXPECT_EQ(out.back(), 0x00);
}

TEST(EcrSendFrame, RefusedWithoutChannelOrWhenTheFrameCannotBeCounted) {
    LogCapture log;
    CECRProto none;
    EXPECT_EQ(none.ecrSend(nullptr, 0, 0, 3), 314u);
    EXPECT_THAT(log.texts(), ElementsAre("error: bad communication"));

    auto* ch = new ScriptedChannel;
    CECRProto proto;
    proto.setCommunication(ch);
    const unsigned char byte = 0;
    EXPECT_EQ(proto.ecrSend(&byte, UINT_MAX, 0, 3), 309u);
    EXPECT_THAT(ch->calls(), IsEmpty());
}

} // namespace
