// A whole purchase dialogue over a real pseudo-terminal. The register side is the
// library; the terminal side is plain bytes on the master end, reading the
// register's dump headers most significant byte first and writing its own least
// significant byte first.
#include "ecrlink/ECRProto.h"
#include "support/FdChannel.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <stdexcept>

using testing_support::Bytes;
using testing_support::FdChannel;
using testing_support::hex;

namespace {

/// The terminal's side of the line: a pty master spoken to byte by byte.
class TerminalPeer {
public:
    explicit TerminalPeer(int fd) : fd(fd) {}

    std::uint8_t readByte(int timeoutMs = 3000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) throw std::runtime_error("terminal: nothing from the register");
        std::uint8_t b = 0;
        if (::read(fd, &b, 1) != 1) throw std::runtime_error("terminal: line lost");
        return b;
    }

    void write(const Bytes& bytes) {
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("terminal: write failed");
    }

    /// Reads one frame from the register; returns its data, and whether the
    /// check byte matched.
    Bytes readFrame(bool& checkOk) {
        if (readByte() != 0x02) throw std::runtime_error("terminal: expected STX");
        const unsigned int length = readByte() << 8 | readByte();
        Bytes data;
        std::uint8_t check = 0;
        for (unsigned int i = 0; i < length; ++i) {
            data.push_back(readByte());
            check ^= data.back();
        }
        checkOk = readByte() == check;
        return data;
    }

    /// Sends a frame and returns the register's reply byte.
    std::uint8_t sendFrame(std::uint8_t start, const Bytes& data, bool corruptCheck = false) {
        Bytes out{start, static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size())};
        std::uint8_t check = 0;
        for (std::uint8_t b : data) check ^= b;
        out.insert(out.end(), data.begin(), data.end());
        out.push_back(corruptCheck ? static_cast<std::uint8_t>(check ^ 0x5A) : check);
        write(out);
        return readByte();
    }

private:
    int fd;
};

/// An incoming record: tag number and length least significant byte first.
Bytes record(std::uint32_t tag, const Bytes& value) {
    Bytes out;
    for (std::uint32_t n : {tag, static_cast<std::uint32_t>(value.size())})
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes piece(std::uint32_t number, std::uint32_t count, const std::string& payload) {
    Bytes header = record(number, {}); // 4 bytes of number, 4 bytes of zero …
    header.resize(4);
    for (int i = 0; i < 4; ++i) header.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
    Bytes value = header;
    value.insert(value.end(), payload.begin(), payload.end());
    return record(44, value);
}

std::string valueText(CTLVTag* tag) {
    unsigned int length = 0;
    tag->getLength(length);
    std::string s(length, '\0');
    if (length) tag->getValue(&s[0], length);
    return s;
}

struct Pty {
    int master = -1, slave = -1;
    Pty() {
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
};

TEST(Dialogue, PurchaseOverAPseudoTerminal) {
    Pty pty;
    CECRProto proto;
    ASSERT_EQ(proto.setCommunication(new FdChannel(pty.slave)), 0u);
    ASSERT_EQ(proto.open(true), 0u);

    const std::string receiptText = "SHOP 42\nPURCHASE  12.50 EUR\nAPPROVED\n";
    Bytes requestSeen;
    std::future<std::vector<std::uint8_t>> terminal = std::async(std::launch::async, [&] {
        TerminalPeer peer(pty.master);
        std::vector<std::uint8_t> replies;
        bool ok = false;
        // The request, refused once with NAK, then acknowledged.
        peer.readFrame(ok);
        peer.write({0x15});
        requestSeen = peer.readFrame(ok);
        peer.write({static_cast<std::uint8_t>(ok ? 0x06 : 0x15)});
        replies.push_back(peer.sendFrame(0x12, record(2, text("WAIT"))));
        replies.push_back(peer.sendFrame(0x02, record(1, hex("0d 00 00 00"))));
        replies.push_back(peer.sendFrame(0x02, piece(1, 3, receiptText.substr(0, 8))));
        replies.push_back(peer.sendFrame(0x02, piece(2, 3, receiptText.substr(8, 20))));
        replies.push_back(peer.sendFrame(0x02, piece(3, 3, receiptText.substr(28))));
        Bytes answer = record(3, text("000123"));
        Bytes amount = record(4, hex("e2 04 00 00"));
        answer.insert(answer.end(), amount.begin(), amount.end());
        replies.push_back(peer.sendFrame(0x02, answer, true)); // corrupted once …
        replies.push_back(peer.sendFrame(0x02, answer));       // … and repeated
        return replies;
    });

    CTLVMessage request;
    request.addTag(new CTLVTag(1, 1u));
    request.addTag(new CTLVTag(4, 1250u));
    EXPECT_EQ(proto.sendMessage(request), 0u);

    CTLVMessage answer;
    std::vector<unsigned int> results;
    std::string receipt;
    for (int i = 0; i < 6; ++i) {
        results.push_back(proto.recvMessage(answer));
        CTLVTag* file = nullptr;
        if (answer.getTag(file, 44) == 0) receipt = valueText(file);
    }
    const std::vector<std::uint8_t> replies = terminal.get();

    EXPECT_EQ(requestSeen, hex("00 00 00 01 00 00 00 04 00 00 00 01  00 00 00 04 00 00 00 04 00 00 04 e2"));
    EXPECT_THAT(results, testing::ElementsAre(312u, 312u, 0u, 0u, 0u, 0u));
    EXPECT_THAT(replies, testing::ElementsAre(0x06, 0x06, 0x06, 0x06, 0x06, 0x15, 0x06));
    EXPECT_EQ(receipt, receiptText);
    EXPECT_TRUE(answer.isFileBufferEnd());
    EXPECT_TRUE(answer.IsReceiptPresent());
    CTLVTag* approval = nullptr;
    ASSERT_EQ(answer.getTag(approval, 3), 0u);
    EXPECT_EQ(valueText(approval), "000123");
    unsigned int amount = 0;
    EXPECT_EQ(answer.getTagNumValue(4, amount), 0u);
    EXPECT_EQ(amount, 1250u);
    EXPECT_EQ(proto.close(), 0u);
}

TEST(Dialogue, TerminalGoneIsReportedAsNotConnected) {
    Pty pty;
    CECRProto proto;
    ASSERT_EQ(proto.setCommunication(new FdChannel(pty.slave)), 0u);
    ASSERT_EQ(proto.open(false), 0u);
    ::close(pty.master);
    pty.master = -1;
    CTLVMessage answer;
    EXPECT_EQ(proto.recvMessage(answer), 105u);
}

} // namespace
