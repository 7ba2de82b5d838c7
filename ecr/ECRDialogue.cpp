// SPDX-License-Identifier: MIT
#include "ecrlink/ECRDialogue.h"

#include "ProtoLog.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

using namespace ecrlink::ecr;
using namespace ECRPResult;
using Ending = Communication::TransactionJournal::Ending;

namespace {

using Clock = std::chrono::steady_clock;

// Reception failures after which the terminal goes on: it repeats or moves
// on, so the dialogue keeps listening.
bool recoverable(unsigned int rc) {
    return rc == BrokenStatus || rc == UnknownStart || rc == NoCheckByte;
}

// A frame acknowledged but not readable as a message: the terminal takes it
// for delivered, so it must hear that the register gave up. After the other
// reception failures the protocol has said what there is to say.
bool unreadable(unsigned int rc) {
    return rc >= 201 && rc <= 207;
}

} // namespace

// Hidden: it is no part of the API, whatever the visibility of its class.
struct __attribute__((visibility("hidden"))) CECRDialogue::State {
    explicit State(CECRProto& p) : proto(p) {}

    CECRProto& proto;
    unsigned int idleMs = DefaultIdleTimeoutMs;
    unsigned int overallMs = DefaultOverallTimeoutMs;
    StatusHandler onStatus;
    FinalRule isFinal;
    Communication::TransactionJournal* journal = nullptr;
    std::vector<unsigned char> receipt;
    std::vector<unsigned int> recovered;

    // The run in progress, shared with cancel() and the watchdog. Nothing of
    // it outlives the run: finish() clears it on every path.
    std::mutex mutex;
    std::condition_variable changed;
    bool running = false;
    bool cancelled = false;
    bool expired = false; // the watchdog interrupted the channel at a deadline
    bool stopWatch = false;
    Communication::Interruptible* wakeable = nullptr;
    Clock::time_point overallEnd;
    Clock::time_point idleEnd;

    // Owned by the thread of run().
    std::thread watchdog;
    bool active = false;     // between start() and finish()
    bool requestOut = false; // the request may have reached the terminal
    bool journalOpen = false;

    void start() {
        auto* channel = dynamic_cast<Communication::Interruptible*>(proto.communication());
        if (channel) channel->resume(); // whatever interrupted it before is not this run's
        active = true;
        requestOut = false;
        const Clock::time_point now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        running = true;
        cancelled = expired = stopWatch = false;
        wakeable = channel;
        overallEnd = now + std::chrono::milliseconds(overallMs);
        idleEnd = overallEnd; // the idle time-out starts once the request is acknowledged
    }

    // Interrupts the channel at the deadline that comes first, so that a wait
    // inside the protocol ends there and not when the channel's own time-out
    // says so.
    void watch() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopWatch) {
            const Clock::time_point due = std::min(overallEnd, idleEnd);
            if (!expired && Clock::now() >= due) {
                expired = true;
                if (wakeable) wakeable->interrupt();
            }
            if (expired) changed.wait(lock);
            else changed.wait_until(lock, due);
        }
    }

    void startWatchdog() {
        if (!wakeable) return;
        try {
            watchdog = std::thread([this] { watch(); });
        } catch (const std::system_error&) {
            logOnly("dialogue: no thread for the time-outs; they hold between frames only");
        }
    }

    // After each protocol call: why the run must end now, or 0. A frame that
    // arrived restarts the idle time-out first, so that a deadline that passed
    // while it was being read does not count against it.
    unsigned int verdict(bool frameArrived) {
        const Clock::time_point now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        if (frameArrived) idleEnd = now + std::chrono::milliseconds(idleMs);
        if (cancelled) return Cancelled;
        if (now >= overallEnd) return OverallTimeout;
        if (now >= idleEnd) return IdleTimeout;
        if (expired) {
            // The watchdog fired just before the frame restarted the idle
            // time-out: the channel is idle between calls, so take it back.
            expired = false;
            if (wakeable) wakeable->resume();
        }
        changed.notify_one();
        return Ok;
    }

    void openJournal(CTLVMessage& request, const std::string& reference, unsigned int& rc) {
        if (!journal) return;
        unsigned int length = 0;
        std::vector<unsigned char> dump;
        // A request that cannot be dumped is refused by sendMessage; its
        // intent is recorded all the same, with what there is.
        if (request.getDumpLength(length) == 0 && length > 0) {
            dump.resize(length);
            if (request.buildDump(dump.data(), length, length) != 0) length = 0;
        } else {
            length = 0;
        }
        journalOpen = true;
        rc = static_cast<unsigned int>(journal->beginTransaction(reference, length ? dump.data() : nullptr, length));
    }

    // Ends the run: nothing of it stays behind, the terminal hears EOT when
    // `abort`, the journal records the outcome once.
    unsigned int finish(unsigned int rc, Ending ending, bool abort, const char* why = nullptr) {
        Communication::Interruptible* channel = nullptr;
        active = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            running = cancelled = expired = false;
            stopWatch = true;
            channel = wakeable;
            wakeable = nullptr;
            changed.notify_one();
        }
        if (watchdog.joinable()) watchdog.join();
        if (channel) channel->resume(); // the abort, and the next run, must not find it interrupted
        if (why) logOnly("dialogue: ", why);
        if (abort) proto.sendAbort();
        if (journalOpen) {
            journalOpen = false;
            journal->endTransaction(rc, ending);
        }
        return rc;
    }

    unsigned int giveUp(unsigned int why) {
        return finish(why, Ending::NoAnswer, true,
                      why == Cancelled        ? "cancelled"
                      : why == IdleTimeout    ? "terminal quiet for the idle time-out"
                                              : "no final answer within the overall time-out");
    }

    void keepReceipt(CTLVMessage& message) {
        if (!message.isFileBufferEnd()) return;
        for (int number : {44, 85}) {
            CTLVTag* tag = nullptr;
            unsigned int length = 0;
            if (message.getTag(tag, static_cast<unsigned int>(number)) != 0) continue;
            tag->getLength(length);
            receipt.assign(length, 0);
            unsigned int copied = 0;
            if (length > 0) tag->getValue(receipt.data(), length, copied);
        }
    }

    unsigned int run(CTLVMessage& request, CTLVMessage& answer, const std::string& reference);
};

CECRDialogue::CECRDialogue(CECRProto& proto) : state(new State(proto)) {}

CECRDialogue::~CECRDialogue() = default;

void CECRDialogue::setIdleTimeout(unsigned int milliseconds) { state->idleMs = milliseconds; }
void CECRDialogue::setOverallTimeout(unsigned int milliseconds) { state->overallMs = milliseconds; }
unsigned int CECRDialogue::idleTimeout() const { return state->idleMs; }
unsigned int CECRDialogue::overallTimeout() const { return state->overallMs; }
void CECRDialogue::onStatus(StatusHandler handler) { state->onStatus = std::move(handler); }
void CECRDialogue::setFinalRule(FinalRule rule) { state->isFinal = std::move(rule); }
void CECRDialogue::setJournal(Communication::TransactionJournal* journal) { state->journal = journal; }
const std::vector<unsigned char>& CECRDialogue::receipt() const { return state->receipt; }
const std::vector<unsigned int>& CECRDialogue::recovered() const { return state->recovered; }

bool CECRDialogue::isFinalAnswer(CTLVMessage& message) {
    std::vector<CTLVTag*> tags;
    message.getAllTags(tags);
    for (CTLVTag* tag : tags) {
        unsigned int number = 0;
        tag->getType(number);
        if (!CTLVMessage::isFileTag(static_cast<int>(number))) return true;
    }
    return false;
}

void CECRDialogue::cancel() {
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->running) return; // a cancel belongs to the run in progress, never to a later one
    state->cancelled = true;
    if (state->wakeable) state->wakeable->interrupt();
}

unsigned int CECRDialogue::run(CTLVMessage& request, CTLVMessage& answer) { return run(request, answer, std::string()); }

unsigned int CECRDialogue::run(CTLVMessage& request, CTLVMessage& answer, const std::string& reference) {
    State& s = *state;
    s.start();
    try {
        return s.run(request, answer, reference);
    } catch (...) {
        // A handler (or memory) failed: the run ends as if cancelled, then the exception goes on.
        if (s.active) s.finish(Cancelled, Ending::NoAnswer, s.requestOut, "ended by an exception");
        throw;
    }
}

unsigned int CECRDialogue::State::run(CTLVMessage& request, CTLVMessage& answer, const std::string& reference) {
    answer.clear();
    receipt.clear();
    recovered.clear();
    unsigned int rc = Ok;
    openJournal(request, reference, rc);
    if (rc != Ok) return finish(rc, Ending::NoAnswer, false, "the journal cannot record the request");
    if (verdict(false) == Cancelled) return finish(Cancelled, Ending::NoAnswer, false, "cancelled before sending");

    startWatchdog();
    requestOut = true;
    const unsigned int sent = proto.sendMessage(request);
    if (const unsigned int why = verdict(false)) return giveUp(why);
    if (sent != Ok) {
        // A line that failed while the request went out says so itself.
        const unsigned int line = proto.isOpened();
        if (line != Ok) return finish(line, Ending::NoAnswer, false);
        return finish(sent, Ending::NoAnswer, sent == NoAck, sent == NoAck ? "the request may have arrived" : nullptr);
    }
    verdict(true);

    std::unique_ptr<CTLVMessage> received(new CTLVMessage); // this run's, and no other's
    CTLVMessage& message = *received;
    for (;;) {
        rc = proto.recvMessage(message);
        const bool frame = rc == Ok || rc == StatusMessage || rc == CheckTerminal;
        if (rc == Ok) {
            keepReceipt(message);
            bool final = false;
            try {
                final = isFinal ? isFinal(message) : isFinalAnswer(message);
            } catch (...) {
                answer.copy(message); // whatever the rule thought of it, it is not lost
                throw;
            }
            if (final) {
                // Whatever a cancel or a deadline does from here on, this answer stands. The channel
                // tells whether the ACK it just took went out (ICommunication.h).
                const unsigned int ack = proto.isOpened();
                answer.copy(message);
                if (ack == Ok) return finish(Ok, Ending::Answered, false);
                logOnly("dialogue: final answer received, its ACK not delivered | rc = ", ack);
                return finish(AnswerNotAcknowledged, Ending::AnsweredNotAcknowledged, false);
            }
        }
        // A frame whose ACK did not go out (the line failed, or the journal could not keep the frame): the
        // terminal repeats it to a register that can no longer acknowledge anything.
        if (rc == Ok || rc == StatusMessage)
            if (const unsigned int line = proto.isOpened()) return finish(line, Ending::NoAnswer, false, "ACK not delivered");
        if (const unsigned int why = verdict(frame)) return giveUp(why);
        // A quiet terminal (the customer is busy), a check, a receipt piece: keep listening.
        if (rc == Timeout || rc == CheckTerminal || rc == Ok) continue;
        if (recoverable(rc)) {
            logOnly("dialogue: going on after ", rc);
            recovered.push_back(rc);
            continue;
        }
        if (rc != StatusMessage) return finish(rc, Ending::NoAnswer, unreadable(rc));
        if (onStatus) onStatus(message);
    }
}
