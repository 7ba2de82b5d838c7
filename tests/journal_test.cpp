// SPDX-License-Identifier: MIT
// The journal: what recovery tells of a transaction after each way a run can end or the register can die, that
// nothing is acknowledged or sent that is not on disk, rotation, and that recovery reads only the journal's end.
#include "ecrlink/CaptureChannel.h"
#include "ecrlink/ECRDialogue.h"
#include "ecrlink/Journal.h"
#include "support/ScriptedChannel.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace Communication;
using namespace testing_support;
using Ending = TransactionJournal::Ending;
using Outcome = JournalTransaction::Outcome;

namespace {

// A directory of its own for each test, removed with it.
struct TempDir {
    TempDir() {
        std::string name = testing::TempDir() + "ecrlink-journal-XXXXXX";
        path = ::mkdtemp(name.data()) ? name : "";
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

const std::string Card = "4111111111111111";
// What the terminal sends during a purchase, after its ACK of the request.
const Bytes Status = frame(0x12, record(2, text("PROCESSING")));
const Bytes Insert = frame(0x02, record(1, {13, 0, 0, 0}) + record(2, text("INSERT CARD")));
const Bytes Receipt1 = frame(0x02, piece(44, 1, 2, "TOTAL ")), Receipt2 = frame(0x02, piece(44, 2, 2, "12.50"));
const Bytes Answer = frame(0x02, record(2, text("APPROVED")) + record(5, text(Card)));

// The register's line; at the first byte of the request the journal must already say it went out.
struct Line : ScriptedChannel {
    Line(std::string path) : path(std::move(path)) {}
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
        if (written.empty() && length > 1) {
            JournalTransaction t;
            std::string error;
            Journal::lastTransaction(path, t, error);
            if (outcomeAtFirstByte) *outcomeAtFirstByte = t.outcome;
        }
        return ScriptedChannel::write(data, length, count);
    }
    std::string path;
    std::optional<Outcome>* outcomeAtFirstByte = nullptr;
};

// One purchase through `journal` over a scripted line: the intent, the dialogue, and the outcome when `ending` is
// given (none: the register died). The result of the run.
unsigned int purchase(Journal& journal, const std::string& reference, const std::string& script,
                      const std::vector<Bytes>& frames, std::optional<Ending> ending,
                      std::optional<Outcome>* atFirstByte = nullptr) {
    auto* line = new Line(journal.path());
    if (script != "crash") line->play(script);
    for (const Bytes& f : frames) line->arrive(f);
    line->outcomeAtFirstByte = atFirstByte;
    CECRProto proto;
    proto.setCommunication(new CaptureChannel(line, journal, {}));
    proto.open(true);
    CTLVMessage request, answer;
    request.addTag(new CTLVTag(2, const_cast<char*>("PURCHASE")));
    request.addTag(new CTLVTag(5, const_cast<char*>(Card.c_str())));
    unsigned char dump[64];
    unsigned int length = 0;
    request.buildDump(dump, sizeof dump, length);
    if (journal.beginTransaction(reference, dump, length)) return CommJournalFailed;
    CECRDialogue dialogue(proto);
    dialogue.setIdleTimeout(50);
    const unsigned int rc = script == "crash" ? 0 : dialogue.run(request, answer);
    if (ending) journal.endTransaction(rc, *ending);
    return rc;
}

const std::vector<Bytes> Whole = {hex("06"), Status, Insert, Receipt1, Receipt2, Answer};

// Every outcome recovery can tell, with and without the run's end on record.
TEST(Journal, RecoveryTellsWhatBecameOfTheTransaction) {
    struct Row {
        const char* name;
        std::string script;
        std::vector<Bytes> frames;
        std::optional<Ending> ending;
        std::size_t cut; // bytes cut off the journal's end: the register died before writing them
        Outcome expected;
        std::optional<unsigned int> result;
    };
    const Row rows[] = {
        {"line down before sending", "I105", {}, Ending::NoAnswer, 0, Outcome::NotSent, 105u},
        {"died after the intent", "crash", {}, std::nullopt, 0, Outcome::NotSent, std::nullopt},
        {"EOT on the request", "", {hex("04")}, Ending::NoAnswer, 0, Outcome::SentNoAnswer, 304u},
        {"died waiting for the answer", "", {hex("06")}, std::nullopt, 0, Outcome::SentNoAnswer, std::nullopt},
        {"answered", "", Whole, Ending::Answered, 0, Outcome::Answered, 0u},
        {"died after the ACK", "", Whole, std::nullopt, 0, Outcome::Answered, std::nullopt},
        {"ACK failed", "W0,W0,W0,W0,W0,W105/0", Whole, Ending::AnsweredNotAcknowledged, 0,
         Outcome::AnsweredNotAcknowledged, 0u},
        {"ACK failed, then died", "W0,W0,W0,W0,W0,W105/0", Whole, std::nullopt, 0, Outcome::AnsweredNotAcknowledged,
         std::nullopt},
        // The last record is the final ACK's (24 + 1 + 8 bytes); cut whole or torn.
        {"died before recording the ACK", "", Whole, std::nullopt, 33, Outcome::AnsweredNotAcknowledged, std::nullopt},
        {"died writing the ACK's record", "", Whole, std::nullopt, 5, Outcome::AnsweredNotAcknowledged, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string path = dir.file("terminal.journal");
        {
            Journal journal({0, 4, {5}});
            ASSERT_EQ(journal.open(path), 0) << journal.lastError();
            purchase(journal, "R-1", "", {hex("06"), Answer}, Ending::Answered); // an earlier one, answered
            std::optional<Outcome> atFirstByte;
            purchase(journal, "R-2", row.script, row.frames, row.ending, &atFirstByte);
            EXPECT_EQ(atFirstByte.value_or(Outcome::SentNoAnswer), Outcome::SentNoAnswer);
        }
        if (row.cut) std::filesystem::resize_file(path, std::filesystem::file_size(path) - row.cut);

        JournalTransaction t;
        std::string error;
        ASSERT_EQ(Journal::lastTransaction(path, t, error), 0) << error;
        EXPECT_EQ(journalOutcomeText(t.outcome), std::string(journalOutcomeText(row.expected)));
        EXPECT_EQ(t.reference, "R-2");
        EXPECT_EQ(t.resultRecorded, row.result.has_value());
        EXPECT_EQ(t.result, row.result.value_or(0));
        const Bytes masked = Bytes{0, 0, 0, 2, 0, 0, 0, 8} + text("PURCHASE") + Bytes{0, 0, 0, 5, 0, 0, 0, 16} +
                             Bytes(16, '*');
        EXPECT_EQ(t.request, masked);
        EXPECT_EQ(slurp(path).find(Card), std::string::npos) << "the card number reached the journal";
        if (row.frames == Whole) {
            ASSERT_EQ(t.answerTags.size(), 2u);
            EXPECT_EQ(t.answerTags[0].value, text("APPROVED"));
            EXPECT_EQ(t.answerTags[1].value, Bytes(16, '*'));
            EXPECT_EQ(t.statusMessages.size(), 2u);
            EXPECT_EQ(t.receipt, text("TOTAL 12.50"));
            EXPECT_TRUE(t.receiptComplete);
        } else {
            EXPECT_TRUE(t.answer.empty());
        }
        // The capture reader does not take a failed ACK for one that went out.
        std::vector<CapturedMessage> messages;
        ASSERT_EQ(readCaptureMessages(path, messages, error), 0) << error;
        EXPECT_EQ(messages.back().reply, row.script.find("W105") == std::string::npos ? messages.back().reply : -1);

        JournalTransaction first;
        ASSERT_EQ(Journal::findTransaction(path, "R-1", first, error), 0) << error;
        EXPECT_EQ(first.outcome, Outcome::Answered);
        ASSERT_EQ(Journal::findTransaction(path, "R-3", first, error), 0) << error;
        EXPECT_EQ(first.outcome, Outcome::NotFound);
    }
}

// A record cut short or garbage after the last whole one: recovery reads past it, and opening cuts it off before
// appending.
TEST(Journal, TornTailIsSkippedAndCutOffAtOpen) {
    TempDir dir;
    const std::string path = dir.file("terminal.journal");
    {
        Journal journal;
        ASSERT_EQ(journal.open(path), 0);
        purchase(journal, "R-1", "", {hex("06"), Answer}, Ending::Answered);
    }
    const std::string whole = slurp(path);
    for (const std::string& tail : {std::string("\x06\x00\x00\x00\x01", 5), std::string(300, '\0'),
                                    whole.substr(8, 30)}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << whole << tail;
        JournalTransaction t;
        std::string error;
        ASSERT_EQ(Journal::lastTransaction(path, t, error), 0) << error;
        EXPECT_EQ(t.outcome, Outcome::Answered);
        Journal journal;
        ASSERT_EQ(journal.open(path), 0) << journal.lastError();
        EXPECT_EQ(std::filesystem::file_size(path), whole.size() + 40) << "the tail cut off, a session appended";
    }
    // Died before its first record: an empty journal.
    for (const std::string& start : {std::string(), whole.substr(0, 5)}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << start;
        JournalTransaction t;
        std::string error;
        EXPECT_EQ(Journal::lastTransaction(path, t, error), 0) << error;
        EXPECT_EQ(t.outcome, Outcome::NotFound);
        EXPECT_EQ(Journal().open(path), 0);
    }
}

// Opening appends, never truncates: a register that restarts and cannot connect keeps the answer it needs; a file
// that is not a journal of this version is left as it is.
TEST(Journal, OpeningAppendsAndLeavesOtherFilesAlone) {
    TempDir dir;
    const std::string path = dir.file("capture");
    for (const char* script : {"06", "O109"}) {
        CaptureChannel channel(new ScriptedChannel(script), {path, {}, true, false});
        channel.open();
        unsigned char byte = 0;
        unsigned int n = 0;
        channel.read(&byte, 1, n);
    }
    std::vector<CaptureEvent> events;
    bool truncated = false;
    std::string error;
    ASSERT_EQ(readCapture(path, events, truncated, error), 0) << error;
    std::vector<CaptureEvent::Kind> kinds;
    for (const CaptureEvent& e : events) kinds.push_back(e.kind);
    using K = CaptureEvent;
    EXPECT_THAT(kinds, testing::ElementsAre(K::Session, K::Open, K::Control, K::Session, K::Open, K::Failure));

    for (const std::string& content : {std::string("ECRLCAP\x01", 8) + std::string(40, 'x'), std::string("notes\n")}) {
        const std::string other = dir.file("other");
        std::ofstream(other, std::ios::binary | std::ios::trunc) << content;
        Journal journal;
        EXPECT_EQ(journal.open(other), CommOpenFailed);
        EXPECT_THAT(journal.lastError(), testing::StartsWith("journal " + other + ": "));
        EXPECT_EQ(slurp(other), content);
    }
}

// A path that cannot be read is a failure with its reason, never an exception.
TEST(Journal, UnreadablePathsAreRefused) {
    TempDir dir;
    for (const auto& [path, reason] : {std::pair<std::string, std::string>{dir.path, "Is a directory"},
                                       {dir.file("missing"), "No such file or directory"}}) {
        std::vector<CaptureEvent> events;
        std::vector<CapturedMessage> messages;
        JournalTransaction t;
        bool truncated = false;
        std::string e1, e2, e3;
        EXPECT_EQ(readCapture(path, events, truncated, e1), CommOpenFailed);
        EXPECT_EQ(readCaptureMessages(path, messages, e2), CommOpenFailed);
        EXPECT_EQ(Journal::lastTransaction(path, t, e3), CommOpenFailed);
        for (const std::string& error : {e1, e2, e3}) EXPECT_EQ(error, path + ": " + reason);
    }
}

// Under a file-size limit (as on a full disk) the journal refuses what it cannot keep: the request when its sending
// record cannot be written, the ACK when the answer's records cannot (also in journal mode on a capture file of the
// channel's own); from then on the channel says 117. The torn record is cut off. Each runs in a child process.
TEST(Journal, WhatIsNotOnDiskIsNeitherSentNorAcknowledged) {
    enum Case { LimitBeforeRequest, LimitBeforeAnswer, OwnFileLimitBeforeAnswer };
    for (const Case c : {LimitBeforeRequest, LimitBeforeAnswer, OwnFileLimitBeforeAnswer}) {
        SCOPED_TRACE(c);
        TempDir dir;
        const std::string path = dir.file("terminal.journal");
        const auto limit = [&] {
            rlimit r{static_cast<rlim_t>(std::filesystem::file_size(path) + 20), RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &r);
        };
        const auto child = [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            struct Limited : Line {
                using Line::Line;
                int write(const unsigned char* data, unsigned int length, unsigned int& count) override {
                    if (atFirstWrite && written.empty()) atFirstWrite();
                    return Line::write(data, length, count);
                }
                std::function<void()> atFirstWrite;
            };
            auto* line = new Limited(path);
            if (c != LimitBeforeRequest) line->atFirstWrite = limit;
            for (const Bytes& f : {hex("06"), Answer}) line->arrive(f);
            Journal journal;
            CECRProto proto;
            auto* channel = c == OwnFileLimitBeforeAnswer ? new CaptureChannel(line, {path, {}, true, false})
                                                          : new CaptureChannel(line, journal, {});
            proto.setCommunication(channel);
            if (c != OwnFileLimitBeforeAnswer) journal.open(path);
            proto.open(true);
            const Bytes request = {0, 0, 0, 2, 0, 0, 0, 1, 'P'};
            if (c != OwnFileLimitBeforeAnswer) journal.beginTransaction("R-1", request.data(), unsigned(request.size()));
            if (c == LimitBeforeRequest) limit();
            CTLVMessage message, answer;
            message.addTag(new CTLVTag(2, const_cast<char*>("P")));
            proto.sendMessage(message);
            proto.recvMessage(answer);
            const std::string error = channel->lastError();
            std::fprintf(stderr, "written [%s] isOpened %u error [%s]\n", toHex(line->written).c_str(), proto.isOpened(),
                         error.c_str());
            const bool ok = toHex(line->written) == (c == LimitBeforeRequest ? "" : toHex(frame(2, request))) &&
                            proto.isOpened() == CommJournalFailed && error == "journal " + path + ": File too large";
            proto.setCommunication(new ScriptedChannel);
            journal.close(); // the torn record is cut off
            std::vector<CaptureEvent> events;
            bool truncated = true;
            std::string why;
            std::_Exit(ok && readCapture(path, events, truncated, why) == 0 && !truncated ? 0 : 1);
        };
        EXPECT_EXIT(child(), testing::ExitedWithCode(0), "isOpened 117");
    }
}

// Recovery reads the last transaction, not the journal: 2,000 purchases cost no more reading than 20.
TEST(Journal, RecoveryReadsOnlyTheEnd) {
    TempDir dir;
    const std::string one = dir.file("one");
    {
        Journal journal;
        ASSERT_EQ(journal.open(one), 0);
        purchase(journal, "R-1", "", Whole, Ending::Answered);
    }
    const std::string bytes = slurp(one), magic = bytes.substr(0, 8), records = bytes.substr(8);
    const auto readSoFar = [] {
        std::ifstream io("/proc/self/io");
        for (std::string key; io >> key;) {
            unsigned long long n = 0;
            io >> n;
            if (key == "rchar:") return n;
        }
        return 0ull;
    };
    unsigned long long read[2] = {};
    for (const int count : {20, 2000}) {
        const std::string path = dir.file(std::to_string(count));
        std::ofstream out(path, std::ios::binary);
        out << magic;
        for (int i = 0; i < count; ++i) out << records;
        out.close();
        JournalTransaction t;
        std::string error;
        const unsigned long long before = readSoFar();
        ASSERT_EQ(Journal::lastTransaction(path, t, error), 0) << error;
        read[count == 2000] = readSoFar() - before;
        EXPECT_EQ(t.outcome, Outcome::Answered);
    }
    EXPECT_LT(read[1], 1.5 * read[0]) << read[0] << " bytes read for 20 purchases, " << read[1] << " for 2,000";
    EXPECT_LT(read[1], 2000 * records.size() / 20);
}

// The journal rotates at the start of a transaction, keeps `keep` old files and never deletes one that holds a
// transaction whose outcome is not final; finding a transaction looks through the rotated files.
TEST(Journal, RotationKeepsWhatIsNotFinal) {
    TempDir dir;
    const std::string path = dir.file("j");
    {
        Journal journal({1, 2, {}});
        ASSERT_EQ(journal.open(path), 0);
        purchase(journal, "T1", "", {hex("04")}, Ending::NoAnswer); // sent, no answer
        for (const char* reference : {"T2", "T3", "T4", "T5", "T6"})
            purchase(journal, reference, "I105", {}, Ending::NoAnswer); // not sent
    }
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) files.push_back(entry.path().filename());
    EXPECT_THAT(files, testing::UnorderedElementsAre("j", "j.1", "j.2", "j.5"));
    struct Row {
        const char* reference;
        Outcome outcome;
        std::string file;
    };
    for (const Row& row : {Row{"T1", Outcome::SentNoAnswer, path + ".5"}, Row{"T3", Outcome::NotFound, ""},
                           Row{"T4", Outcome::NotSent, path + ".2"}, Row{"T6", Outcome::NotSent, path}}) {
        JournalTransaction t;
        std::string error;
        ASSERT_EQ(Journal::findTransaction(path, row.reference, t, error), 0) << error;
        EXPECT_EQ(t.outcome, row.outcome) << row.reference;
        EXPECT_EQ(t.file, row.file) << row.reference;
    }
}

} // namespace
