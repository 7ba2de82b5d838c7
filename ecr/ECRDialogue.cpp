// SPDX-License-Identifier: MIT
#include "ecrlink/ECRDialogue.h"

#include "ProtoLog.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

using namespace ecrlink_detail;
using namespace ECRPResult;

namespace {

using Clock = std::chrono::steady_clock;

// Reception failures after which the terminal goes on: it repeats or moves
// on, so the dialogue keeps listening.
bool recoverable(unsigned int rc) {
    return rc == BrokenStatus || rc == UnknownStart || rc == NoCheckByte;
}

} // namespace

struct CECRDialogue::State {
    explicit State(CECRProto& p) : proto(p) {}

    CECRProto& proto;
    unsigned int idleMs = DefaultIdleTimeoutMs;
    unsigned int overallMs = DefaultOverallTimeoutMs;
    StatusHandler onStatus;
    FinalRule isFinal;
    std::vector<unsigned char> receipt;
    std::vector<unsigned int> recovered;

    // Shared with cancel(): the run in progress and the channel it may interrupt.
    std::mutex mutex;
    bool running = false;
    std::atomic<bool> cancelled{false};
    Communication::Interruptible* wakeable = nullptr;

    void begin() {
        std::lock_guard<std::mutex> lock(mutex);
        wakeable = dynamic_cast<Communication::Interruptible*>(proto.communication());
        if (wakeable && !cancelled) wakeable->resume();
        running = true;
    }

    unsigned int end(unsigned int rc) {
        std::lock_guard<std::mutex> lock(mutex);
        running = false;
        cancelled = false;
        if (wakeable) wakeable->resume();
        wakeable = nullptr;
        return rc;
    }

    // The register gives up: the terminal hears it, then the run ends.
    unsigned int giveUp(unsigned int rc, const char* why) {
        logOnly("dialogue: ", why);
        if (wakeable) wakeable->resume(); // the abort must not find the channel interrupted
        proto.sendAbort();
        return end(rc);
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
};

CECRDialogue::CECRDialogue(CECRProto& proto) : state(new State(proto)) {}

CECRDialogue::~CECRDialogue() = default;

void CECRDialogue::setIdleTimeout(unsigned int milliseconds) { state->idleMs = milliseconds; }
void CECRDialogue::setOverallTimeout(unsigned int milliseconds) { state->overallMs = milliseconds; }
unsigned int CECRDialogue::idleTimeout() const { return state->idleMs; }
unsigned int CECRDialogue::overallTimeout() const { return state->overallMs; }
void CECRDialogue::onStatus(StatusHandler handler) { state->onStatus = std::move(handler); }
void CECRDialogue::setFinalRule(FinalRule rule) { state->isFinal = std::move(rule); }
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
    state->cancelled = true;
    if (state->running && state->wakeable) state->wakeable->interrupt();
}

unsigned int CECRDialogue::run(CTLVMessage& request, CTLVMessage& answer) {
    State& s = *state;
    s.receipt.clear();
    s.recovered.clear();
    s.begin();
    if (s.cancelled) return s.end(Cancelled); // cancelled before it began: nothing sent
    const Clock::time_point start = Clock::now();
    const auto idle = std::chrono::milliseconds(s.idleMs);
    const auto overall = std::chrono::milliseconds(s.overallMs);

    const unsigned int sent = s.proto.sendMessage(request);
    if (s.cancelled) return s.giveUp(Cancelled, "cancelled");
    if (sent != Ok) return s.end(sent);

    Clock::time_point lastFrame = Clock::now();
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now - start >= overall) return s.giveUp(OverallTimeout, "no final answer within the overall time-out");
        if (now - lastFrame >= idle) return s.giveUp(IdleTimeout, "terminal quiet for the idle time-out");

        const unsigned int rc = s.proto.recvMessage(answer);
        if (s.cancelled) return s.giveUp(Cancelled, "cancelled");
        if (rc == Timeout) continue; // the terminal is quiet: the customer is busy
        if (recoverable(rc)) {
            logOnly("dialogue: going on after ", rc);
            s.recovered.push_back(rc);
            continue;
        }
        if (rc != Ok && rc != StatusMessage && rc != CheckTerminal) return s.end(rc);
        lastFrame = Clock::now();
        if (rc == CheckTerminal) continue; // the terminal makes sure we are there
        if (rc == StatusMessage) {
            if (s.onStatus) s.onStatus(answer);
            continue;
        }
        s.keepReceipt(answer);
        if (s.isFinal ? s.isFinal(answer) : isFinalAnswer(answer)) return s.end(Ok);
    }
}
