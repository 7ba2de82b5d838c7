// A whole purchase dialogue over a real pseudo-terminal. The register side is the
// library over a descriptor channel on the slave end; the terminal side is
// plain bytes on the master end, reading the
// register's dump headers most significant byte first and writing its own least
// significant byte first.
#include "ecrlink/ECRDialogue.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/DescriptorChannel.h"
#include "support/Wire.h"

#include <gmock/gmock.h>

#include <pty.h>
#include <termios.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <thread>
#include <stdexcept>

using namespace testing_support;

namespace {

/// The terminal's end of the line, spoken to byte by byte.
struct Terminal {
    Communication::DescriptorChannel line;
    explicit Terminal(int fd) : line(fd) { line.setReadTimeouts(0, 3000); }

    std::uint8_t byte() {
        std::uint8_t b = 0;
        unsigned int n = 0;
        if (line.read(&b, 1, n) != 0) throw std::runtime_error("terminal: nothing from the register");
        return b;
    }
    void write(const Bytes& bytes) {
        unsigned int n = 0;
        if (line.write(bytes.data(), static_cast<unsigned int>(bytes.size()), n) != 0)
            throw std::runtime_error("terminal: write failed");
    }
    /// One frame of the register: its data, and whether the check byte matched.
    Bytes readFrame(bool& checkOk) {
        if (byte() != 0x02) throw std::runtime_error("terminal: expected STX");
        const unsigned int length = byte() << 8;
        Bytes data(length | byte());
        for (std::uint8_t& b : data) b = byte();
        checkOk = frame(0x02, data).back() == byte();
        return data;
    }
    /// Sends a frame; the register's reply byte.
    std::uint8_t send(std::uint8_t start, const Bytes& data, bool corrupt = false) {
        write(frame(start, data, corrupt));
        return byte();
    }
};

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string valueText(CTLVTag* tag) {
    unsigned int length = 0;
    tag->getLength(length);
    std::string s(length, '\0');
    if (length) tag->getValue(&s[0], length);
    return s;
}

struct Line {
    int master = -1, slave = -1;
    CECRProto proto;
    Line() {
        termios raw{};
        ::cfmakeraw(&raw);
        if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) throw std::runtime_error("openpty");
        proto.setCommunication(new Communication::DescriptorChannel(slave));
    }
};

TEST(Dialogue, PurchaseOverAPseudoTerminal) {
    Line line;
    ASSERT_EQ(line.proto.open(true), 0u);
    const std::string receiptText = "SHOP 42\nPURCHASE  12.50 EUR\nAPPROVED\n";
    Bytes requestSeen;
    auto terminal = std::async(std::launch::async, [&] {
        Terminal peer(line.master);
        bool ok = false;
        peer.readFrame(ok); // the request, refused once …
        peer.write({0x15});
        requestSeen = peer.readFrame(ok); // … then acknowledged
        peer.write({static_cast<std::uint8_t>(ok ? 0x06 : 0x15)});
        Bytes answer = record(3, text("000123"));
        const Bytes amount = record(4, hex("e2 04 00 00"));
        answer.insert(answer.end(), amount.begin(), amount.end());
        return Bytes{peer.send(0x12, record(2, text("WAIT"))),
                     peer.send(0x02, record(1, hex("0d 00 00 00"))),
                     peer.send(0x02, piece(44, 1, 3, receiptText.substr(0, 8))),
                     peer.send(0x02, piece(44, 2, 3, receiptText.substr(8, 20))),
                     peer.send(0x02, piece(44, 3, 3, receiptText.substr(28))),
                     peer.send(0x02, answer, true), // corrupted once …
                     peer.send(0x02, answer)};      // … and repeated
    });

    CTLVMessage request;
    request.addTag(new CTLVTag(1, 1u));
    request.addTag(new CTLVTag(4, 1250u));
    CECRDialogue dialogue(line.proto);
    std::vector<std::string> statuses;
    dialogue.onStatus([&](CTLVMessage& status) { statuses.push_back(status.findTag(2) ? "text" : "tag 1"); });
    CTLVMessage answer;
    EXPECT_EQ(dialogue.run(request, answer), 0u);
    const std::string receipt(dialogue.receipt().begin(), dialogue.receipt().end());

    EXPECT_EQ(terminal.get(), hex("06 06 06 06 06 15 06"));
    EXPECT_EQ(requestSeen, hex("00 00 00 01 00 00 00 04 00 00 00 01  00 00 00 04 00 00 00 04 00 00 04 e2"));
    EXPECT_THAT(statuses, testing::ElementsAre("text", "tag 1"));
    EXPECT_TRUE(dialogue.recovered().empty());
    EXPECT_EQ(receipt, receiptText);
    EXPECT_TRUE(answer.isFileBufferEnd());
    EXPECT_TRUE(answer.IsReceiptPresent());
    CTLVTag* approval = nullptr;
    ASSERT_EQ(answer.getTag(approval, 3), 0u);
    EXPECT_EQ(valueText(approval), "000123");
    unsigned int amount = 0;
    EXPECT_EQ(answer.getTagNumValue(4, amount), 0u);
    EXPECT_EQ(amount, 1250u);
    EXPECT_EQ(line.proto.close(), 0u);
}

// The register gives up, by itself or when told to from another thread: the terminal hears EOT every time,
// and a cancel ends the dialogue at once, also while the channel waits for the reply to the request.
TEST(Dialogue, GivesUpWithItsOwnCodeAndTellsTheTerminal) {
    enum class Ends { Cancel, Idle, Overall };
    struct Row { const char* name; bool ack; int statusEveryMs; Ends ends; unsigned int rc; };
    for (const Row& row : {Row{"cancel in the reply wait", false, 0, Ends::Cancel, 322},
                           Row{"cancel in the idle wait", true, 0, Ends::Cancel, 322},
                           Row{"quiet terminal", true, 0, Ends::Idle, 320},
                           Row{"status for ever", true, 100, Ends::Overall, 321}}) {
        SCOPED_TRACE(row.name);
        Line line;
        ASSERT_EQ(line.proto.open(true), 0u);
        std::atomic<bool> done{false};
        auto terminal = std::async(std::launch::async, [&] {
            Terminal peer(line.master);
            bool ok = false;
            peer.readFrame(ok);
            if (row.ack) peer.write({0x06});
            while (row.statusEveryMs && !done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(row.statusEveryMs));
                if (const std::uint8_t reply = peer.send(0x12, record(2, text("PIN"))); reply != 0x06) return reply;
            }
            return peer.byte(); // what the register sends when it gives up
        });
        CECRDialogue dialogue(line.proto);
        dialogue.setIdleTimeout(row.ends == Ends::Idle ? 300 : 5000);
        dialogue.setOverallTimeout(row.ends == Ends::Overall ? 700 : 20000);
        std::atomic<long> cancelledAt{0};
        const auto start = std::chrono::steady_clock::now();
        const auto since = [&] { return long((std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1)); };
        std::thread canceller([&] {
            if (row.ends != Ends::Cancel) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            cancelledAt = since();
            dialogue.cancel();
        });
        CTLVMessage request, answer;
        request.addTag(new CTLVTag(1, 1u));
        EXPECT_EQ(dialogue.run(request, answer), row.rc);
        const long returned = since();
        done = true;
        canceller.join();
        EXPECT_EQ(terminal.get(), 0x04) << "EOT";
        if (row.ends == Ends::Cancel) {
            std::printf("%s: cancel to return %ld ms\n", row.name, returned - cancelledAt);
            EXPECT_LT(returned - cancelledAt, 100);
        }
    }
}

} // namespace
