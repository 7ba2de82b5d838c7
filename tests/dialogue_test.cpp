// SPDX-License-Identifier: MIT
// The dialogue: how each run ends, on a scripted line that records every call (the journal's calls among them),
// and whole purchases over a real pseudo-terminal. There the register side is the library over a descriptor channel
// on the slave end; the terminal side is plain bytes on the master end, reading the register's dump headers most
// significant byte first and writing its own least significant byte first.
#include "ecrlink/ECRDialogue.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/DescriptorChannel.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

#include <pty.h>
#include <sys/socket.h>
#include <termios.h>

#include <atomic>
#include <functional>
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
    EXPECT_FALSE(answer.IsReceiptPresent()) << "the receipt is the run's, not the answer's";
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


namespace {

// A scripted line that calls `afterAck` once it has taken a lone ACK: the register acknowledged a frame.
struct AckHookedChannel : ScriptedChannel {
    using ScriptedChannel::ScriptedChannel;
    std::function<void()> afterAck;
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        const int rc = ScriptedChannel::write(data, length, count);
        if (afterAck && length == 1 && data[0] == 0x06) afterAck();
        return rc;
    }
};

// A journal that writes its calls into the line's transcript, so that their order against the line shows.
struct Journal : Communication::TransactionJournal {
    ScriptedChannel* line = nullptr;
    int refuse = 0;
    std::function<void()> onBegin;
    int beginTransaction(const std::string& reference, const unsigned char* request, unsigned int length) override {
        line->calls.push_back("begin(" + reference + ", " + toHex(request, length) + ")");
        if (onBegin) onBegin();
        return refuse;
    }
    int endTransaction(unsigned int result, Ending ending) override {
        line->calls.push_back("end(" + std::to_string(result) + ", " + std::to_string(int(ending)) + ")");
        return 0;
    }
};

} // namespace

// Each way a run ends: what it returns, what the terminal gets last, what the journal hears (once, around the rest),
// what `answer` holds; and nothing of the run stays behind for a cancel that follows a change of channel.
TEST(Dialogue, OutcomeOfARun) {
    enum Act { Nothing, CancelFirst, CancelAfterTheAck, CancelWhileStarting, RefuseInTheJournal, ThrowOnStatus };
    struct Row { const char* name; const char* script; Bytes arrival; Act act; unsigned int rc; std::string last; bool answered; };
    const Bytes approved = frame(0x02, record(2, {'O', 'K'}));
    const std::string answeredAcked = "write(06) -> 0; isOpened() -> 0; end(0, 1)", noAnswer = "; end(322, 0)";
    const Row rows[] = {
        {"a final answer stands whatever comes after its ACK", "06", approved, CancelAfterTheAck, 0, answeredAcked, true},
        {"a cancel with no run in progress does nothing", "06", approved, CancelFirst, 0, answeredAcked, true},
        {"final answer whose ACK fails", "06,W0,W105,I0,I105", approved, Nothing, 323,
         "write(06) -> 105; isOpened() -> 105; end(323, 2)", true},
        {"a status message whose ACK the journal refuses", "06,W0,W117,I0,I117", frame(0x12, record(2, {'P', 'I', 'N'})),
         Nothing, 117, "write(06) -> 117; isOpened() -> 117; end(117, 0)", false},
        {"line lost while the request is written", "W105,W105,W105,I0,I105", {}, Nothing, 105,
         "write(02 00 0c 00 00 00 01 00 00 00 04 00 00 00 01 04) -> 105; isOpened() -> 105; end(105, 0)", false},
        {"no reply to the request", "", {}, Nothing, 306, "isOpened() -> 0; isOpened() -> 0; write(04) -> 0; end(306, 0)", false},
        {"cancel while the run starts", "", {}, CancelWhileStarting, 322, "begin(T1, 00 00 00 01 00 00 00 04 00 00 00 01)" + noAnswer, false},
        {"journal cannot record the intent", "", {}, RefuseInTheJournal, 117,
         "begin(T1, 00 00 00 01 00 00 00 04 00 00 00 01); end(117, 0)", false},
        {"status handler throws", "06", frame(0x12, record(2, {'P', 'I', 'N'})), ThrowOnStatus, 0,
         "write(06) -> 0; isOpened() -> 0; isOpened() -> 0; write(04) -> 0" + noAnswer, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CECRProto proto;
        auto* line = new AckHookedChannel(row.script);
        proto.setCommunication(line);
        line->arrive(row.arrival);
        Journal journal;
        journal.line = line;
        journal.refuse = row.act == RefuseInTheJournal ? 117 : 0;
        CECRDialogue dialogue(proto);
        dialogue.setJournal(&journal);
        dialogue.setIdleTimeout(100);
        if (row.act == CancelFirst) dialogue.cancel();
        if (row.act == CancelWhileStarting) journal.onBegin = [&] { dialogue.cancel(); };
        if (row.act == CancelAfterTheAck) line->afterAck = [&] { dialogue.cancel(); };
        dialogue.onStatus([&](CTLVMessage&) { throw std::runtime_error("display gone"); });
        CTLVMessage request, answer;
        request.addTag(new CTLVTag(1, 1u));
        answer.addTag(new CTLVTag(9, 9u)); // the previous customer's
        if (row.act == ThrowOnStatus) EXPECT_THROW(dialogue.run(request, answer, "T1"), std::runtime_error);
        else EXPECT_EQ(dialogue.run(request, answer, "T1"), row.rc);

        const std::vector<std::string>& calls = line->calls;
        EXPECT_EQ(calls.front(), "begin(T1, 00 00 00 01 00 00 00 04 00 00 00 01)");
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("end(", 0) == 0; }), 1);
        const std::size_t parts = std::count(row.last.begin(), row.last.end(), ';') + 1;
        EXPECT_EQ(join({calls.end() - long(std::min(parts, calls.size())), calls.end()}), row.last);
        EXPECT_EQ(answer.findTag(2), row.answered);
        EXPECT_FALSE(answer.findTag(9));
        proto.setCommunication(new ScriptedChannel);
        dialogue.cancel(); // no run: touches nothing of the one before
    }
}

// One answer object for every customer: each run hands over its own receipt, never the one before.
TEST(Dialogue, EachRunHasItsOwnReceipt) {
    ScriptedLink link;
    CECRDialogue dialogue(link.proto);
    CTLVMessage request, answer;
    request.addTag(new CTLVTag(1, 1u));
    for (const std::string text : {"FIRST CUSTOMER\n", "SECOND\n"}) {
        link.channel->play("06").arrive(frame(0x02, piece(44, 1, 1, text))).arrive(frame(0x02, record(2, {'O', 'K'})));
        EXPECT_EQ(dialogue.run(request, answer), 0u);
        EXPECT_EQ(std::string(dialogue.receipt().begin(), dialogue.receipt().end()), text);
    }
}

// A real line whose other end stops reading just before it sends the final answer: the ACK cannot be written.
TEST(Dialogue, AnswerWhoseAckCannotBeWrittenIsHandedOverWith323) {
    int fds[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    CECRProto proto;
    proto.setCommunication(new Communication::DescriptorChannel(fds[0]));
    auto terminal = std::async(std::launch::async, [&] {
        Terminal peer(fds[1]);
        peer.readFrame();
        ::shutdown(fds[1], SHUT_RD);
        peer.put(hex("06") + frame(0x02, record(2, {'O', 'K'})));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    });
    CECRDialogue dialogue(proto);
    CTLVMessage request, answer;
    request.addTag(new CTLVTag(1, 1u));
    EXPECT_EQ(dialogue.run(request, answer), ECRPResult::AnswerNotAcknowledged);
    EXPECT_TRUE(answer.findTag(2));
    terminal.get();
}
