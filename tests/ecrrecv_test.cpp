#include "ecrlink/ECRProto.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

#include <sstream>

using testing::ElementsAre;
using testing::ElementsAreArray;
using namespace testing_support;

namespace {

std::vector<std::string> split(const std::string& text, char separator = ';') {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        if (part.find_first_not_of(' ') != std::string::npos) parts.push_back(part.substr(part.find_first_not_of(' ')));
    return parts;
}

// Arrivals separated by ",": hex bytes, "!n" a read failing with n, "?n/k/hex"
// a read answering n with count k and the bytes given.
void play(ScriptedChannel& ch, const std::string& script) {
    for (const std::string& a : split(script, ',')) {
        if (a[0] == '!') {
            ch.readFails(std::atoi(a.c_str() + 1));
        } else if (a[0] == '?') {
            const auto p = split(a.substr(1), '/');
            ch.readRaw(std::stoi(p[0]), p.size() > 2 ? hex(p[2]) : Bytes{}, static_cast<unsigned int>(std::stoul(p[1])));
        } else {
            ch.arrive(a);
        }
    }
}

const std::string Start = "setReadTimeouts(0, 250) -> 0; ";
const std::string Stx = "read(1) -> 0 [02]; setReadTimeouts(0, 1500) -> 0; ";
const std::string Body = "read(2) -> 0 [00 03]; read(3) -> 0 [01 02 04]; read(1) -> 0 [07]; ";
const std::string Abort = "isOpened() -> 0; write(04) -> 0";
const std::string Refused = Stx + "read(2) -> 0 [00 01]; read(1) -> 0 [05]; read(1) -> 0 [00]; write(15) -> 0; ";
constexpr unsigned int Untouched = 777;

struct RecvCase {
    const char* name;
    const char* script;
    int attempts;
    unsigned int rc;
    std::string calls;
    const char* logs;
    const char* data;  // hex of the buffer handed out; null when none
    unsigned int length;
};

const RecvCase recvCases[] = {
    {"DataFrame", "02 00 03 01 02 04 07", 3, 0, Start + Stx + Body + "write(06) -> 0", "STX is received", "01 02 04", 3},
    {"StatusFrame", "12 00 03 01 02 04 07", 3, 312,
     Start + "read(1) -> 0 [12]; setReadTimeouts(0, 1500) -> 0; " + Body + "write(06) -> 0", "Status message is received",
     "01 02 04", 3},
    {"BrokenStatusIsNotAwaitedAgain", "12 00 03 01 02 04 00", 3, 311,
     Start + "read(1) -> 0 [12]; setReadTimeouts(0, 1500) -> 0; read(2) -> 0 [00 03]; read(3) -> 0 [01 02 04]; "
             "read(1) -> 0 [00]; write(15) -> 0",
     "Status message is received; error: broken status message", "01 02 04", 3},
    {"IdleLine", "", 3, 302, Start + "read(1) -> 106", "", nullptr, Untouched},
    {"Eot", "04", 3, 304, Start + "read(1) -> 0 [04]", "Abort is received", nullptr, Untouched},
    {"Bel", "07", 3, 315, Start + "read(1) -> 0 [07]", "Check terminal message is received", nullptr, Untouched},
    {"UnknownFirstByte", "06 00 01", 3, 308, Start + "read(1) -> 0 [06]", "error: Unknown byte is received", nullptr,
     Untouched},
    {"LengthInTwoPieces", "02, 00, 03 01 02 04 07", 3, 0,
     Start + Stx + "read(2) -> 0 [00]; read(1) -> 0 [03]; read(3) -> 0 [01 02 04]; read(1) -> 0 [07]; write(06) -> 0",
     "STX is received", "01 02 04", 3},
    {"LengthSecondByteMissing", "02, 00", 3, 106, Start + Stx + "read(2) -> 0 [00]; read(1) -> 106",
     "STX is received; error: communication read length", nullptr, Untouched},
    {"LengthSecondReadEmpty", "02, 00, ?0/0", 3, 302, Start + Stx + "read(2) -> 0 [00]; read(1) -> 0",
     "STX is received; error: communication read length", nullptr, Untouched},
    {"LengthSecondReadOverrun", "02, 00, ?0/2/03", 3, 317, Start + Stx + "read(2) -> 0 [00]; read(1) -> 0 [03]",
     "STX is received; error: communication read length", nullptr, Untouched},
    {"LengthReadFails", "02, !107", 3, 107, Start + Stx + "read(2) -> 107",
     "STX is received; error: communication read length", nullptr, Untouched},
    {"LengthReadEmpty", "02, ?0/0", 3, 302, Start + Stx + "read(2) -> 0",
     "STX is received; error: communication read length", nullptr, Untouched},
    {"LengthReadOverrun", "02, ?0/3/00 03", 3, 317, Start + Stx + "read(2) -> 0 [00 03]",
     "STX is received; error: communication read length", nullptr, Untouched},
    {"TooBig", "02 10 01 00", 3, 309, Start + Stx + "read(2) -> 0 [10 01]; " + Abort,
     "STX is received; sending abort; error: message is bigger than allowable maximum size", nullptr, 4097},
    {"Empty", "02 00 00 00", 3, 310, Start + Stx + "read(2) -> 0 [00 00]; " + Abort,
     "STX is received; sending abort; error: empty message", nullptr, 0},
    {"DataInPieces", "02 00 03, 01, 02 04, 07", 3, 0,
     Start + Stx + "read(2) -> 0 [00 03]; read(3) -> 0 [01]; read(2) -> 0 [02 04]; read(1) -> 0 [07]; write(06) -> 0",
     "STX is received", "01 02 04", 3},
    {"DataReadFails", "02 00 03 01, !107", 3, 107,
     Start + Stx + "read(2) -> 0 [00 03]; read(3) -> 0 [01]; read(2) -> 107; " + Abort,
     "STX is received; error: communication read message; sending abort", "01 00 00", 3},
    {"DataOverrun", "02 00 03, ?0/5/01", 3, 317, Start + Stx + "read(2) -> 0 [00 03]; read(3) -> 0 [01]",
     "STX is received; error: wrong read message length", "01 00 00", 3},
    {"NoCheckByte", "02 00 03 01 02 04", 3, 305, Start + Stx + "read(2) -> 0 [00 03]; read(3) -> 0 [01 02 04]; read(1) -> 106",
     "STX is received; error: communication read CRC", "01 02 04", 3},
    {"EveryFrameRefused", "02 00 01 05 00, 02 00 01 05 00, 02 00 01 05 00", 3, 303, Start + Refused + Refused + Refused,
     "STX is received; STX is received; STX is received; Attempts is expired during receive", "05", 1},
    {"RefusedThenGood", "02 00 01 05 00, 02 00 01 05 05", 3, 0,
     Start + Refused + Stx + "read(2) -> 0 [00 01]; read(1) -> 0 [05]; read(1) -> 0 [05]; write(06) -> 0",
     "STX is received; STX is received", "05", 1},
    {"RefusedThenSilence", "02 00 01 05 00", 3, 302, Start + Refused + "read(1) -> 106", "STX is received", nullptr, 1},
    {"NoAttempts", "02 00 01 05 05", 0, 303, Start, "Attempts is expired during receive", nullptr, Untouched},
    {"NegativeAttempts", "", -2, 303, Start, "Attempts is expired during receive", nullptr, Untouched},
};

class EcrRecv : public testing::TestWithParam<RecvCase> {};

TEST_P(EcrRecv, ReadsRepliesAndHandsOutTheData) {
    const RecvCase& c = GetParam();
    LogCapture log;
    auto* ch = new ScriptedChannel;
    play(*ch, c.script);
    CECRProto proto;
    proto.setCommunication(ch);
    unsigned char* data = nullptr;
    unsigned int length = Untouched;
    EXPECT_EQ(proto.ecrRecv(data, length, c.attempts), c.rc);
    EXPECT_THAT(ch->calls(), ElementsAreArray(split(c.calls)));
    EXPECT_THAT(log.texts(), ElementsAreArray(split(c.logs)));
    EXPECT_EQ(length, c.length);
    if (c.data) {
        EXPECT_EQ(data ? toHex(data, length) : "null", c.data);
    } else {
        EXPECT_EQ(data, nullptr);
    }
    delete[] data;
}

INSTANTIATE_TEST_SUITE_P(Frames, EcrRecv, testing::ValuesIn(recvCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EcrRecvLimits, LargestFrameIsAccepted) {
    auto* ch = new ScriptedChannel;
    Bytes frame = {0x02, 0x10, 0x00};
    for (int i = 0; i < 4096; ++i) frame.push_back(static_cast<std::uint8_t>(i * 7));
    frame.push_back(0x00);  // the bytes i*7 over 4096 values cancel out
    ch->arrive(frame);
    CECRProto proto;
    proto.setCommunication(ch);
    unsigned char* data = nullptr;
    unsigned int length = 0;
    EXPECT_EQ(proto.ecrRecv(data, length, 1), 0u);
    EXPECT_EQ(length, 4096u);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[4095], static_cast<unsigned char>(4095 * 7));
    EXPECT_EQ(ch->written(), hex("06"));
    delete[] data;
}

TEST(EcrRecvLimits, WithoutChannel) {
    LogCapture log;
    CECRProto proto;
    unsigned char* data = nullptr;
    unsigned int length = Untouched;
    EXPECT_EQ(proto.ecrRecv(data, length, 3), 314u);
    unsigned char byte = 0;
    EXPECT_EQ(proto.readNBytes(&byte, 1), 314u);
    EXPECT_EQ(length, Untouched);
    EXPECT_THAT(log.texts(), ElementsAre("error: bad communication", "error: bad communication"));
}

TEST(ReadNBytes, ZeroBytesStillIssuesOneRead) {
    auto* ch = new ScriptedChannel;
    ch->arrive("55");
    CECRProto proto;
    proto.setCommunication(ch);
    EXPECT_EQ(proto.readNBytes(nullptr, 0), 0u);
    EXPECT_THAT(ch->calls(), ElementsAre("read(0) -> 0"));
}

} // namespace
