// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Export.h"
#include "ecrlink/TransactionJournal.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Communication {

/// One tag of a message found in a journal, as the terminal sent it.
struct JournalTag {
    std::uint32_t number = 0;
    std::vector<unsigned char> value; ///< masked values as '*'
};

/// What became of one transaction, told from the journal's records alone.
struct JournalTransaction {
    enum Outcome {
        NotFound,                ///< no such transaction in the journal: nothing was sent for it
        NotSent,                 ///< no byte of the request reached the terminal: it may be sent again
        SentNoAnswer,            ///< the request went out, no final answer came: ask the terminal, never send it again blindly
        Answered,                ///< the final answer came and its ACK was written
        AnsweredNotAcknowledged, ///< the final answer came; its ACK may not have reached the terminal
    };
    Outcome outcome = NotFound;
    std::string reference;
    std::uint64_t wallTimeNs = 0;         ///< when the transaction began, ns since 1970 UTC
    std::vector<unsigned char> request;   ///< the request's dump as sent (masked values as '*')
    bool resultRecorded = false;          ///< the run ended and said how (else the register stopped during it)
    unsigned int result = 0;              ///< the run's result, when recorded (e.g. 304: EOT on the request)
    std::vector<unsigned char> answer;    ///< the final answer's dump as received; empty when none
    std::vector<JournalTag> answerTags;   ///< the same, tag by tag
    std::vector<std::vector<JournalTag>> statusMessages; ///< in the order they came
    std::vector<unsigned char> receipt;   ///< file tag 44/85 pieces put together
    bool receiptComplete = false;         ///< its last piece came
    std::string file;                     ///< the journal file it was found in (the current one or a rotated one)
};

/// "not found", "not sent", "sent, no answer", "answered",
/// "answered, acknowledgement not delivered".
ECRLINK_API const char* journalOutcomeText(JournalTransaction::Outcome outcome);

/// The register's journal: one file in the capture format (docs/capture-format.md)
/// that records each transaction's intent, what went over the line and how the
/// run ended, so that after any crash (the process, the machine, the power) the
/// register can tell what became of its last transaction.
///
///   Communication::Journal journal;                      // or Journal({rotateBytes, keep, maskedTags})
///   if (journal.open("/var/lib/register/terminal.journal")) { log(journal.lastError()); }
///   proto.setCommunication(new Communication::CaptureChannel(channel, journal, {}));
///   dialogue.setJournal(&journal);                       // begin/endTransaction around each run
///   ...after a restart:
///   Communication::JournalTransaction last;
///   std::string error;
///   Communication::Journal::lastTransaction(path, last, error);
///
/// The application owns the journal; channels that record into it share its
/// file, which stays open until the journal and every such channel are gone,
/// so a register may reconnect with a new channel and the same journal.
/// Opening appends (a session record marks each opening), never truncates;
/// a record left torn by a crash is cut off first. At the start of a
/// transaction the file is rotated once it has grown past `rotateBytes`: it
/// becomes PATH.1 (older ones PATH.2, PATH.3 ...); beyond `keep` old files the
/// oldest are deleted, except a file holding a transaction whose outcome is
/// not final (sent with no answer, or answered without a delivered ACK),
/// which is never deleted.
///
/// Threads: one thread runs the transactions (the dialogue's); the calls take
/// a lock, so lastError() and the static readers may come from any thread.
/// Blocking: open, beginTransaction, endTransaction and a channel's sync wait
/// for the disk (fdatasync; a rotation renames files and reads the oldest
/// one). The static readers read only the end of a journal: the records of
/// the transaction asked for and those after it.
class ECRLINK_API Journal final : public TransactionJournal {
public:
    struct Options {
        std::uint64_t rotateBytes = 16u << 20; ///< rotate at the next transaction once this size is passed; 0 never
        unsigned int keep = 4;                 ///< old files kept besides those holding unfinished transactions
        std::set<std::uint32_t> maskedTags;    ///< tag numbers whose values never reach the file
    };

    Journal();
    explicit Journal(Options options);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    /// Opens `path` for appending, creating it (and syncing its directory)
    /// when missing; closes the file held before. 0; CommOpenFailed with
    /// lastError() ("journal PATH: reason") when it cannot be opened, is not
    /// a journal, was written by an older version or is used by another program.
    int open(const std::string& path);
    /// Closes the file; a channel recording into the journal then refuses to
    /// send (CommJournalFailed). 0.
    int close();
    /// Whether a file is open, and the path last given to open().
    bool isOpen() const;
    std::string path() const;
    /// The last failure: "journal PATH: No space left on device".
    std::string lastError() const;

    /// Records the intent (rotating first when due) and arms the channels that
    /// record into the journal: before the first byte of the request goes out,
    /// a sending record is written and synced. Without such a channel the
    /// sending record is written now. 0; CommJournalFailed when it cannot be
    /// recorded (the request must not be sent).
    int beginTransaction(const std::string& reference, const unsigned char* request, unsigned int length) override;
    /// Records the outcome and syncs. 0; CommJournalFailed when not on disk.
    int endTransaction(unsigned int result, Ending ending) override;

    /// The last transaction of the journal at `path` (looking into rotated
    /// files when the current one holds none). 0, also when there is none
    /// (outcome NotFound); CommOpenFailed when the file cannot be read,
    /// CommBadArgument when it is not a journal, with `error`. Any thread;
    /// reads from the end of the file.
    static int lastTransaction(const std::string& path, JournalTransaction& out, std::string& error);
    /// The latest transaction with `reference`, from the end of the journal
    /// through its rotated files. Results as lastTransaction().
    static int findTransaction(const std::string& path, const std::string& reference, JournalTransaction& out,
                               std::string& error);

private:
    friend class CaptureChannel;
    struct State;
    std::unique_ptr<State> state;
};

} // namespace Communication
