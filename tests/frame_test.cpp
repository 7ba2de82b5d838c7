// SPDX-License-Identifier: MIT
// Frames both ways over the scripted channel, then between two protocol objects over a real line.
#include "ecrlink/ECRProto.h"
#include "ecrlink/DescriptorChannel.h"
#include "support/LogCapture.h"
#include "support/ScriptedChannel.h"
#include "wire/CheckByte.h"

#include <gmock/gmock.h>

#include <climits>
#include <sys/socket.h>
#include <thread>

using namespace testing_support;

const std::string Frame = "write(02 00 03 01 02 04 07) -> 0; ";
// One attempt writing the frame of 01 02 04 with check byte 07, then reading the reply.
std::string attempt(const std::string& reply) { return "flush() -> 0; " + Frame + "setReadTimeouts(0, 6000) -> 0; read(1) -> " + reply; }
const std::string Expired = "Attempts is expired during send";

// Every row sends 01 02 04 with check byte 07, announcing `length`.
struct SendCase { const char* name; const char* script; int attempts; unsigned int rc; std::string calls, logs; unsigned int length = 3; };
const SendCase sendCases[] = {
    {"NakThenAck", "15,06", 3, 0, attempt("0 [15]; ") + attempt("0 [06]"), "NAK is received; ACK is received"},
    {"FlushFailsThenNakToTheEnd", "F9,15,15", 3, 303, "flush() -> 9; " + attempt("0 [15]; ") + attempt("0 [15]"),
     "error: communication flush failed; NAK is received; NAK is received; " + Expired},
    {"Eot", "04", 3, 304, attempt("0 [04]; write(04) -> 0"), "error: Abort is received"},
    {"UnknownReply", "05", 3, 307, attempt("0 [05]; write(04) -> 0"), "error: Unknown byte is received"},
    {"NoReplyIsNotRepeated", "", 3, 306, attempt("106"), "error: communication read ACK, rc = 106; error: ACK = 0"},
    {"ReadWithoutByte", "?0", 3, 306, attempt("0"), "error: communication read ACK, rc = 0; error: ACK = 0"},
    {"WriteThenTimeoutFail", "W-2/0,T5,06", 3, 0, "flush() -> 0; write() -> -2; flush() -> 0; " + Frame +
     "setReadTimeouts(0, 6000) -> 5; " + attempt("0 [06]"),
     "error: communication write | rc = -2; error: communication set read timeouts; ACK is received"},
    {"PartialWrites", "W116/2,W107/0,W116/2,W116/3,W116/2,06", 2, 0, "flush() -> 0; write(02 00) -> 116; write() -> 107; "
     "flush() -> 0; write(02 00) -> 116; write(03 01 02) -> 116; write(04 07) -> 116; setReadTimeouts(0, 6000) -> 0; "
     "read(1) -> 0 [06]", "error: communication write | rc = 107; ACK is received"},
    {"TooBigToCount", "06", 3, 309, "", "error: message is bigger than allowable maximum size", UINT_MAX - 3},
    {"NoAttempts", "06", 0, 303, "", Expired},
    {"NegativeAttempts", "06", -1, 303, "", Expired},
};

TEST(EcrSend, WritesFrameAndActsOnReply) {
    const unsigned char data[] = {0x01, 0x02, 0x04};
    for (const SendCase& c : sendCases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        ScriptedLink link(c.script);
        EXPECT_EQ(link.proto.ecrSend(data, c.length, 0x07, c.attempts), c.rc);
        EXPECT_EQ(link.channel->transcript(), c.calls);
        EXPECT_EQ(log.text(), c.logs);
    }
    ScriptedLink link("06,06"); // the length goes most significant byte first; the check byte is the caller's
    const Bytes large(300, 0xa5);
    EXPECT_EQ(link.proto.ecrSend(nullptr, 0, 0x5a, 1), 0u);
    EXPECT_EQ(link.proto.ecrSend(large.data(), 300, 0x00, 1), 0u);
    EXPECT_EQ(link.channel->written, hex("02 00 00 5a 02 01 2c") + large + Bytes{0});
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
        ScriptedLink link(c.script);
        unsigned char* data = nullptr;
        unsigned int length = Untouched;
        EXPECT_EQ(link.proto.ecrRecv(data, length, c.attempts), c.rc);
        EXPECT_EQ(link.channel->transcript(), "setReadTimeouts(0, 250) -> 0" + (c.calls.empty() ? "" : "; " + c.calls));
        EXPECT_EQ(log.text(), c.logs);
        EXPECT_EQ(length, *c.data == '-' ? c.length : hex(c.data).size());
        EXPECT_EQ(data ? toHex(data, length) : "-", c.data);
        delete[] data;
    }
}

// The register's end of a socketpair: it takes at most `chunk` bytes a write (116 for the rest, as a slow line
// does) and may invert the first data byte of its first frame, as a noisy line would.
struct RegisterEnd : Communication::DescriptorChannel {
    RegisterEnd(int fd, unsigned int chunk, bool corrupt) : DescriptorChannel(fd), chunk(chunk), corrupt(corrupt) {}
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        Bytes copy(data, data + length);
        if (corrupt && length > 3) copy[3] ^= 0xFF, corrupt = false;
        const unsigned int n = chunk && chunk < length ? chunk : length;
        const int rc = DescriptorChannel::write(copy.data(), n, count);
        return rc == 0 && n < length ? 116 : rc;
    }
    unsigned int chunk;
    bool corrupt;
};

// ecrSend on the register's end, ecrRecv on the terminal's end, on its own thread.
TEST(FramePair, FramesCrossTheLine) {
    struct Row { const char* name; unsigned int size, writeChunk; bool corrupt; unsigned int sendRc, recvRc; };
    for (const Row& r : {Row{"OneByte", 1, 0, false, 0, 0}, Row{"LargestInPieces", 4096, 1000, false, 0, 0},
                         Row{"TooBigAbortedBothWays", 4097, 0, false, 304, 309}, Row{"NakThenAck", 300, 100, true, 0, 0}}) {
        SCOPED_TRACE(r.name);
        LogCapture log;
        int fds[2] = {-1, -1};
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        auto* ecrEnd = new RegisterEnd(fds[0], r.writeChunk, r.corrupt);
        CECRProto ecr, terminal;
        ecr.setCommunication(ecrEnd);
        terminal.setCommunication(new Communication::DescriptorChannel(fds[1]));
        Bytes payload(r.size);
        unsigned char check = 0, *data = nullptr;
        for (unsigned int i = 0; i < r.size; ++i) check ^= payload[i] = static_cast<unsigned char>(i * 31 + 5);
        unsigned int length = 0, recvRc = 1;
        std::thread receiver([&] { recvRc = terminal.ecrRecv(data, length, 3); });
        EXPECT_EQ(ecr.ecrSend(payload.data(), r.size, check, 3), r.sendRc);
        receiver.join();
        EXPECT_EQ(recvRc, r.recvRc);
        EXPECT_EQ(length, r.size);
        EXPECT_EQ(data ? Bytes(data, data + length) : Bytes{}, r.recvRc ? Bytes{} : payload);
        delete[] data;
        if (r.recvRc) continue;
        EXPECT_EQ(log.text(), std::string(r.corrupt ? "STX is received; NAK is received; " : "") + "STX is received; ACK is received");
        terminal.close(); // a peer that hung up is reported as gone
        EXPECT_EQ(ecrEnd->read(&check, 1, length), 105);
        EXPECT_EQ(ecr.isOpened(), 105u);
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) unsigned char wideCheck(const unsigned char* data, unsigned int n) {
    return ecrlink::wire::xorBlocks<ecrlink::wire::Block32>(data, n);
}
#endif

// Both widths of the check byte against the plain sum, across every block boundary.
TEST(CheckByte, EveryWidthMatchesTheBytewiseSum) {
    Bytes data(300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 131 + 7);
    unsigned char expected = 0;
    for (unsigned int n = 0; n <= data.size(); ++n) {
        EXPECT_EQ(ecrlink::wire::xorBlocks<ecrlink::wire::Block16>(data.data(), n), expected) << n;
#if defined(__x86_64__)
        if (__builtin_cpu_supports("avx2")) {
            EXPECT_EQ(wideCheck(data.data(), n), expected) << n;
        }
#endif
        if (n < data.size()) expected ^= data[n];
    }
}
