#include "ecrlink/ECRProto.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

#include <sstream>

using namespace testing_support;

namespace {

// Arrivals separated by ",": hex bytes, "!n" a read failing with n, "?k hex" a read
// answering 0 with count k and the bytes given.
ScriptedChannel* play(CECRProto& proto, const std::string& script) {
    auto* ch = new ScriptedChannel;
    proto.setCommunication(ch);
    std::istringstream in(script);
    for (std::string a; std::getline(in, a, ',');) {
        if (a[0] == '!') ch->readFails(std::atoi(a.c_str() + 1));
        else if (a[0] == '?') ch->readRaw(0, hex(a.substr(2)), static_cast<unsigned int>(a[1] - '0'));
        else ch->arrive(a);
    }
    return ch;
}

const std::string Stx = "read(1) -> 0 [02]; setReadTimeouts(0, 1500) -> 0; ";
const std::string Dc2 = "read(1) -> 0 [12]; setReadTimeouts(0, 1500) -> 0; ";
const std::string Body = "read(2) -> 0 [00 03]; read(3) -> 0 [01 02 04]; read(1) -> ";
const std::string Abort = "; isOpened() -> 0; write(04) -> 0";
const std::string Refused = Stx + "read(2) -> 0 [00 01]; read(1) -> 0 [05]; read(1) -> 0 [00]; write(15) -> 0";
const std::string LengthError = "STX is received; error: communication read length";
constexpr unsigned int Untouched = 777;

// Calls are those after the first setReadTimeouts(0, 250); data is the hex of the buffer handed out, "-" for
// none; the length handed out is the size of that buffer, or `length` when there is none.
struct RecvCase {
    const char* name; const char* script; unsigned int rc; std::string calls, logs;
    const char* data = "-"; unsigned int length = Untouched; int attempts = 3;
};

const RecvCase recvCases[] = {
    {"DataFrameInPieces", "02,00,03 01,02 04 07", 0, Stx + "read(2) -> 0 [00]; read(1) -> 0 [03]; read(3) -> 0 [01]; "
     "read(2) -> 0 [02 04]; read(1) -> 0 [07]; write(06) -> 0", "STX is received", "01 02 04"},
    {"StatusFrame", "12 00 03 01 02 04 07", 312, Dc2 + Body + "0 [07]; write(06) -> 0", "Status message is received", "01 02 04"},
    {"BrokenStatusIsNotAwaitedAgain", "12 00 03 01 02 04 00", 311, Dc2 + Body + "0 [00]; write(15) -> 0",
     "Status message is received; error: broken status message", "01 02 04"},
    {"Eot", "04", 304, "read(1) -> 0 [04]", "Abort is received"},
    {"Bel", "07", 315, "read(1) -> 0 [07]", "Check terminal message is received"},
    {"UnknownFirstByte", "06 00 01", 308, "read(1) -> 0 [06]", "error: Unknown byte is received"},
    {"LengthSecondByteMissing", "02,00", 106, Stx + "read(2) -> 0 [00]; read(1) -> 106", LengthError},
    {"LengthSecondReadOverrun", "02,00,?2 03", 317, Stx + "read(2) -> 0 [00]; read(1) -> 0 [03]", LengthError},
    {"LengthReadFails", "02,!107", 107, Stx + "read(2) -> 107", LengthError},
    {"LengthReadEmpty", "02,?0", 302, Stx + "read(2) -> 0", LengthError},
    {"LengthReadOverrun", "02,?3 00 03", 317, Stx + "read(2) -> 0 [00 03]", LengthError},
    {"TooBig", "02 10 01 00", 309, Stx + "read(2) -> 0 [10 01]" + Abort,
     "STX is received; sending abort; error: message is bigger than allowable maximum size", "-", 4097},
    {"Empty", "02 00 00 00", 310, Stx + "read(2) -> 0 [00 00]" + Abort, "STX is received; sending abort; error: empty message",
     "-", 0},
    {"DataReadFails", "02 00 03 01,!107", 107, Stx + "read(2) -> 0 [00 03]; read(3) -> 0 [01]; read(2) -> 107" + Abort,
     "STX is received; error: communication read message; sending abort", "01 00 00"},
    {"DataOverrun", "02 00 03,?5 01", 317, Stx + "read(2) -> 0 [00 03]; read(3) -> 0 [01]",
     "STX is received; error: wrong read message length", "01 00 00"},
    {"NoCheckByte", "02 00 03 01 02 04", 305, Stx + Body + "106", "STX is received; error: communication read CRC", "01 02 04"},
    {"EveryFrameRefused", "02 00 01 05 00,02 00 01 05 00,02 00 01 05 00", 303, Refused + "; " + Refused + "; " + Refused,
     "STX is received; STX is received; STX is received; Attempts is expired during receive", "05"},
    {"RefusedThenSilence", "02 00 01 05 00", 302, Refused + "; read(1) -> 106", "STX is received", "-", 1},
    {"NoAttempts", "02 00 01 05 05", 303, "", "Attempts is expired during receive", "-", Untouched, 0},
    {"NegativeAttempts", "02 00 01 05 05", 303, "", "Attempts is expired during receive", "-", Untouched, -2},
};

TEST(EcrRecv, ReadsRepliesAndHandsOutTheData) {
    for (const RecvCase& c : recvCases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        CECRProto proto;
        auto* ch = play(proto, c.script);
        unsigned char* data = nullptr;
        unsigned int length = Untouched;
        EXPECT_EQ(proto.ecrRecv(data, length, c.attempts), c.rc);
        EXPECT_EQ(join(ch->calls()), "setReadTimeouts(0, 250) -> 0" + (c.calls.empty() ? "" : "; " + c.calls));
        EXPECT_EQ(join(log.texts()), c.logs);
        EXPECT_EQ(length, *c.data == '-' ? c.length : hex(c.data).size());
        EXPECT_EQ(data ? toHex(data, length) : "-", c.data);
        delete[] data;
    }
}

TEST(EcrRecv, RefusedWithoutChannel) {
    LogCapture log;
    CECRProto proto;
    unsigned char byte = 0, *data = nullptr;
    unsigned int length = 0;
    EXPECT_EQ(proto.ecrRecv(data, length, 3), 314u);
    EXPECT_EQ(proto.readNBytes(&byte, 1), 314u);
    EXPECT_EQ(join(log.texts()), "error: bad communication; error: bad communication");
}

} // namespace
