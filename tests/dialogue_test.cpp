// SPDX-License-Identifier: MIT
// A whole purchase dialogue over a real pseudo-terminal. The register side is the library over a descriptor channel
// on the slave end; the terminal side is plain bytes on the master end, reading the register's dump headers most
// significant byte first and writing its own least significant byte first.
#include "ecrlink/ECRDialogue.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/DescriptorChannel.h"
#include "support/Wire.h"

#include <gmock/gmock.h>

#include <pty.h>
#include <termios.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

using namespace testing_support;

/// The terminal's end of the line, spoken to byte by byte; it throws on anything unexpected.
struct Terminal : Communication::DescriptorChannel {
    explicit Terminal(int fd) : DescriptorChannel(fd) { setReadTimeouts(0, 3000); }
    std::uint8_t byte() {
        std::uint8_t b = 0;
        unsigned int n = 0;
        if (read(&b, 1, n) != 0) throw std::runtime_error("terminal: nothing from the register");
        return b;
    }
    void put(const Bytes& bytes) {
        unsigned int n = 0;
        if (write(bytes.data(), static_cast<unsigned int>(bytes.size()), n) != 0) throw std::runtime_error("terminal: write");
    }
    /// The data of one frame of the register.
    Bytes readFrame() {
        if (byte() != 0x02) throw std::runtime_error("terminal: expected STX");
        const unsigned int high = byte();
        Bytes data(high << 8 | byte());
        for (std::uint8_t& b : data) b = byte();
        if (frame(0x02, data).back() != byte()) throw std::runtime_error("terminal: bad check byte");
        return data;
    }
    /// Sends a frame; the register's reply byte.
    std::uint8_t send(std::uint8_t start, const Bytes& data, bool corrupt = false) {
        put(frame(start, data, corrupt));
        return byte();
    }
};

struct Line {
    int master = -1, slave = -1;
    CECRProto proto;
    Line() {
        termios raw{};
        ::cfmakeraw(&raw);
        if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) throw std::runtime_error("openpty");
        proto.setCommunication(new Communication::DescriptorChannel(slave));
        if (proto.open(true) != 0) throw std::runtime_error("open");
    }
};

TEST(Dialogue, PurchaseOverAPseudoTerminal) {
    Line line;
    const std::string receiptText = "SHOP 42\nPURCHASE  12.50 EUR\nAPPROVED\n";
    Bytes requestSeen;
    auto terminal = std::async(std::launch::async, [&] {
        Terminal peer(line.master);
        peer.readFrame(); // the request, refused once …
        peer.put({0x15});
        requestSeen = peer.readFrame(); // … then acknowledged
        peer.put({0x06});
        const Bytes answer = record(3, {'0', '0', '0', '1', '2', '3'}) + record(4, hex("e2 04 00 00"));
        return Bytes{peer.send(0x12, record(2, {'W', 'A', 'I', 'T'})), peer.send(0x02, record(1, hex("0d 00 00 00"))),
                     peer.send(0x02, piece(44, 1, 3, receiptText.substr(0, 8))),
                     peer.send(0x02, piece(44, 2, 3, receiptText.substr(8, 20))),
                     peer.send(0x02, piece(44, 3, 3, receiptText.substr(28))),
                     peer.send(0x02, answer, true), // corrupted once …
                     peer.send(0x02, answer)};      // … and repeated
    });
    CTLVMessage request, answer;
    request.addTag(new CTLVTag(1, 1u));
    request.addTag(new CTLVTag(4, 1250u));
    CECRDialogue dialogue(line.proto);
    std::vector<std::string> statuses;
    dialogue.onStatus([&](CTLVMessage& status) { statuses.push_back(status.findTag(2) ? "text" : "tag 1"); });
    EXPECT_EQ(dialogue.run(request, answer), 0u);

    EXPECT_EQ(terminal.get(), hex("06 06 06 06 06 15 06"));
    EXPECT_EQ(requestSeen, hex("00 00 00 01 00 00 00 04 00 00 00 01  00 00 00 04 00 00 00 04 00 00 04 e2"));
    EXPECT_THAT(statuses, testing::ElementsAre("text", "tag 1"));
    EXPECT_TRUE(dialogue.recovered().empty());
    EXPECT_EQ(std::string(dialogue.receipt().begin(), dialogue.receipt().end()), receiptText);
    EXPECT_TRUE(answer.isFileBufferEnd() && answer.IsReceiptPresent());
    CTLVTag* approval = nullptr;
    char text[8] = {};
    ASSERT_EQ(answer.getTag(approval, 3), 0u);
    EXPECT_EQ(approval->getValue(text, sizeof text), 0u);
    EXPECT_STREQ(text, "000123");
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
        std::atomic<bool> done{false};
        auto terminal = std::async(std::launch::async, [&] {
            Terminal peer(line.master);
            peer.readFrame();
            if (row.ack) peer.put({0x06});
            while (row.statusEveryMs && !done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(row.statusEveryMs));
                if (const std::uint8_t reply = peer.send(0x12, record(2, {'P', 'I', 'N'})); reply != 0x06) return reply;
            }
            return peer.byte(); // what the register sends when it gives up
        });
        CECRDialogue dialogue(line.proto);
        dialogue.setIdleTimeout(row.ends == Ends::Idle ? 300 : 5000);
        dialogue.setOverallTimeout(row.ends == Ends::Overall ? 700 : 20000);
        std::atomic<std::chrono::steady_clock::time_point> cancelledAt{std::chrono::steady_clock::time_point::max()};
        std::thread canceller([&] {
            if (row.ends != Ends::Cancel) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            cancelledAt = std::chrono::steady_clock::now();
            dialogue.cancel();
        });
        CTLVMessage request, answer;
        request.addTag(new CTLVTag(1, 1u));
        EXPECT_EQ(dialogue.run(request, answer), row.rc);
        const auto returned = std::chrono::steady_clock::now();
        done = true;
        canceller.join();
        EXPECT_EQ(terminal.get(), 0x04) << "EOT";
        if (row.ends == Ends::Cancel) {
            EXPECT_LT(returned - cancelledAt.load(), std::chrono::milliseconds(100));
        }
    }
}
