// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/ECRProto.h"
#include "ecrlink/Export.h"
#include "ecrlink/TLVMessage.h"
#include "ecrlink/TransactionJournal.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

/// One request of the register run to the terminal's final answer, on top of
/// a CECRProto whose channel is open:
///   CECRDialogue dialogue(proto);
///   dialogue.onStatus([](CTLVMessage& status) { showOnDisplay(status); });
///   CTLVMessage answer;
///   unsigned int rc = dialogue.run(request, answer, "receipt 0042"); // 0: `answer` is final
///
/// run() sends the request, then receives until the final answer: it keeps
/// listening while the terminal is quiet (a customer presenting a card or
/// typing a PIN), hands every status message to the status handler, collects
/// the receipt pieces of file tags 44 and 85, and goes on after a reception
/// failure the terminal recovers from (a broken status frame 311, an unknown
/// start byte 308, a missing check byte 305), which recovered() lists.
///
/// One transaction, one receipt: each run receives into a message of its own.
/// `answer` is cleared when the run starts and receives a copy of the final
/// answer's tags only (CTLVMessage::copy; its file buffer is not used), so an
/// `answer` reused for every customer never carries one customer's receipt
/// into the next. The receipt is receipt(), reset by the next run.
///
/// How a run ends (EOT: the abort byte, sent through CECRProto::sendAbort):
///
/// | condition                                        | run() returns          | the terminal gets           | `answer`   |
/// |--------------------------------------------------|------------------------|-----------------------------|------------|
/// | final answer received and its ACK written        | 0, also when cancel() or a time-out comes after it | ACK; nothing after | its tags |
/// | final answer received, its ACK not delivered     | 323 AnswerNotAcknowledged | what the channel managed  | its tags   |
/// | journal cannot record the intent                 | its code (117)         | nothing                     | empty      |
/// | cancel() before the request went out             | 322 Cancelled          | nothing                     | empty      |
/// | request refused before any byte (310, 309, 205, channel not open: its code) | that code | nothing      | empty      |
/// | request not acknowledged, line failed meanwhile  | the line's code (105 lost, 117 journal failed, 113 ...) | nothing more | empty |
/// | request not acknowledged (303 NAKs, 304 EOT, 307) | that code             | EOT after 304 and 307 (from the protocol) | empty |
/// | no reply to the request (306)                    | 306                    | EOT (it may have arrived)   | empty      |
/// | cancel() after the request went out              | 322 Cancelled          | EOT                         | empty      |
/// | no frame for the idle time-out                   | 320 IdleTimeout        | EOT                         | empty      |
/// | no final answer within the overall time-out      | 321 OverallTimeout     | EOT                         | empty      |
/// | the terminal aborts (304), the line is lost (105) | that code             | nothing                     | empty      |
/// | the ACK of a status message or receipt piece not delivered (105, 117 the journal cannot keep it) | that code | nothing more | empty |
/// | a message acknowledged but not readable (20x)    | that code              | EOT                         | empty      |
/// | other reception failures (303, 309, 310, 317, a channel code) | that code | what the protocol sends (EOT after 309, 310, a failure inside a frame) | empty |
/// | a status handler or the final rule throws        | the exception, after the run ended cleanly | EOT, if the request went out | the final rule's message, else empty |
///
/// receipt() holds the receipt completed during the run on every path.
/// A 323 means the terminal may believe its answer was not received: check
/// the transaction with the terminal before handing out goods. The ACK's fate
/// is asked of the channel (CECRProto::isOpened right after the final answer:
/// channels answer it for their last write, see ICommunication.h). After a run
/// that ended with a channel code, open the channel again before the next run.
///
/// A cancel belongs to one run: a run is in progress from the moment run() is
/// entered until it returns; cancel() within that span ends that run (before
/// the request went out: 322 and nothing is sent), and cancel() outside it
/// does nothing at all, so a cancel can never reach the next customer's run.
/// A cancel that must not be lost while the register is about to call run()
/// is the application's to remember until then.
///
/// Time-outs are enforced inside the waits: a watchdog thread interrupts the
/// channel at the deadline (Communication::Interruptible, which every channel
/// of libecrcomm implements), the way cancel() does. run() then returns at
/// worst the time-out plus a few milliseconds, plus the one-byte EOT write,
/// the journal's records (and a capture's sync before an ACK), and what the
/// application's handlers take. With a channel that cannot be interrupted
/// the deadline is seen when the protocol call in progress returns: up to
/// 6000 ms later while the reply to the request is awaited (3 x (write bound
/// + 6000 ms) when the terminal answers NAK just before each time-out),
/// 250 ms on a quiet line, and while a frame arrives until its last byte
/// (each read waits up to 1500 ms).
///
/// With a journal (setJournal) every run records its intent before any byte
/// of the request goes out and its outcome once, on every path (exceptions
/// included): beginTransaction(reference, the request's dump) first (if it
/// fails, nothing is sent and run() returns its code), then exactly one
/// endTransaction(result, ending): Answered for 0, AnsweredNotAcknowledged
/// for 323, NoAnswer otherwise; an exception is recorded as 322 NoAnswer.
///
/// Threads: run() and the setters from the thread that owns the CECRProto;
/// cancel() from any thread, also from a handler. Handlers run on the thread
/// of run(). No operation throws except for memory exhaustion and what the
/// handlers or the journal throw.
class ECRLINK_API CECRDialogue {
public:
    /// Long enough for card presentation and PIN entry without status
    /// messages; every frame from the terminal starts it again.
    static constexpr unsigned int DefaultIdleTimeoutMs = 90000;
    /// Ends a terminal that keeps sending status messages and never answers.
    static constexpr unsigned int DefaultOverallTimeoutMs = 300000;

    /// Called with each status message (result 312), on the thread of run();
    /// `status` is the run's own message, valid during the call.
    using StatusHandler = std::function<void(CTLVMessage& status)>;
    /// True when a data message is the final answer.
    using FinalRule = std::function<bool(CTLVMessage& message)>;

    /// `proto` must outlive the dialogue.
    explicit CECRDialogue(CECRProto& proto);
    ~CECRDialogue();
    CECRDialogue(const CECRDialogue&) = delete;
    CECRDialogue& operator=(const CECRDialogue&) = delete;

    /// Milliseconds without any frame from the terminal after which run() gives up.
    void setIdleTimeout(unsigned int milliseconds);
    /// Milliseconds from the start of run() after which it gives up.
    void setOverallTimeout(unsigned int milliseconds);
    unsigned int idleTimeout() const;
    unsigned int overallTimeout() const;
    void onStatus(StatusHandler handler);
    /// Replaces the default rule, isFinalAnswer().
    void setFinalRule(FinalRule rule);
    /// The journal the following runs record in; null for none (the default).
    /// Not owned; it must outlive the runs.
    void setJournal(Communication::TransactionJournal* journal);

    /// The default rule: the message holds a tag other than the file tags.
    static bool isFinalAnswer(CTLVMessage& message);

    /// Runs one dialogue (see above); the journal records it with an empty reference.
    unsigned int run(CTLVMessage& request, CTLVMessage& answer);
    /// Runs one dialogue; `reference` (the application's receipt or order
    /// number) goes to the journal with the request.
    unsigned int run(CTLVMessage& request, CTLVMessage& answer, const std::string& reference);

    /// Ends the run in progress as soon as possible (see above); without one
    /// it does nothing. Any thread; never blocks beyond a lock held for
    /// microseconds.
    void cancel();

    /// The receipt collected during the last run; empty when none came.
    const std::vector<unsigned char>& receipt() const;
    /// Reception failures the last run went on after, in the order met.
    const std::vector<unsigned int>& recovered() const;

private:
    struct State;
    std::unique_ptr<State> state;
};
