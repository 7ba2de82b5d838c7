// SPDX-License-Identifier: MIT
#include "ecrlink/CaptureChannel.h"

#include "CaptureFormat.h"
#include "JournalFile.h"
#include "JournalState.h"

#include "ecrlink/Logger.h"
#include "wire/Frame.h"

#include <algorithm>
#include <cstdio>

namespace Communication {

namespace {

std::string hexLine(const char* arrow, const unsigned char* bytes, std::size_t n) {
    std::string line = std::string("wire ") + arrow;
    char pair[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, " %02x", bytes[i]);
        line += pair;
    }
    return line;
}

} // namespace

struct CaptureChannel::State {
    State(ICommunication* line, Options o, std::shared_ptr<ecrlink::comm::JournalFile> f, bool own, bool journal)
        : inner(line), options(std::move(o)), masked(options.maskedTags), toTerminal(true, &masked),
          fromTerminal(false, &masked), file(std::move(f)), ownFile(own), journaled(journal) {}
    ~State() {
        destroyCommIns(inner);
        if (file && !ownFile) file->detach();
    }

    ICommunication* inner;
    Options options;
    std::set<std::uint32_t> masked;
    // The register writes dump headers most significant byte first and reads
    // the terminal's least significant byte first.
    ecrlink::comm::FrameTracker toTerminal, fromTerminal;
    std::shared_ptr<ecrlink::comm::JournalFile> file; // its own, or its journal's
    bool ownFile;
    bool journaled;        // nothing is acknowledged or sent that is not on disk
    bool fileOpened = false;
    bool failed = false;   // the journal failed: only a lone EOT goes out until open()
    std::vector<unsigned char> scratch;

    void record(ecrlink::comm::Type type, std::uint32_t arg, int value, const unsigned char* payload = nullptr,
                std::uint32_t length = 0) {
        if (file && (fileOpened || !ownFile)) file->record(type, arg, value, payload, length);
    }

    // Bytes of a read or write, in records of a bounded size.
    void recordBytes(ecrlink::comm::Type type, std::uint32_t arg, int value, const unsigned char* bytes, std::size_t n) {
        std::size_t at = 0;
        do {
            const auto part = static_cast<std::uint32_t>(std::min<std::size_t>(n - at, ecrlink::comm::MaxPayload));
            record(type, type == ecrlink::comm::Write ? part : arg, value, bytes + at, part);
            at += part;
        } while (at < n);
    }

    // Before a write in journal mode: 0 when it may go out.
    int gate(const unsigned char* data, unsigned int length) {
        if (length == 1 && data && data[0] == ecrlink::wire::ACK && fromTerminal.frameJustEnded()) {
            // The answer the register acknowledges must be on disk before the ACK leaves.
            const int error = file->sync();
            record(ecrlink::comm::Sync, 0, error);
            return error;
        }
        // A transaction's request goes out only once that is known on disk.
        return length > 0 && data ? file->beforeSending() : 0;
    }

    void trace(const char* arrow, const unsigned char* bytes, std::size_t n) {
        if (options.trace && n > 0) Logger::get().log(Logger::Level(2), hexLine(arrow, bytes, n));
    }
};

CaptureChannel::CaptureChannel(ICommunication* inner, Options options) {
    const bool journaled = options.journal && !options.path.empty();
    std::shared_ptr<ecrlink::comm::JournalFile> file;
    if (!options.path.empty()) file = std::make_shared<ecrlink::comm::JournalFile>(journaled ? "journal" : "capture");
    state.reset(new State(inner, std::move(options), std::move(file), true, journaled));
}

CaptureChannel::CaptureChannel(ICommunication* inner, Journal& journal, Options options) {
    options.maskedTags.insert(journal.state->options.maskedTags.begin(), journal.state->options.maskedTags.end());
    journal.state->file->attach();
    state.reset(new State(inner, std::move(options), journal.state->file, false, true));
}

CaptureChannel::~CaptureChannel() = default;

int CaptureChannel::open() {
    State& s = *state;
    if (s.file && s.ownFile && !s.fileOpened) {
        if (const int rc = s.file->open(s.options.path)) {
            setLastError(s.file->lastError());
            return rc;
        }
        s.fileOpened = true;
    }
    // Opening again is how a register takes up a journal that failed.
    if (s.failed) {
        s.failed = false;
        clearLastError();
    }
    if (s.journaled && s.file) s.file->forgetFailure();
    const int rc = s.inner ? s.inner->open() : CommNotConnected;
    s.record(ecrlink::comm::Open, 0, rc);
    return rc;
}

int CaptureChannel::close() {
    const int rc = state->inner ? state->inner->close() : CommOk;
    state->record(ecrlink::comm::Close, 0, rc);
    return rc;
}

int CaptureChannel::read(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    State& s = *state;
    count = 0;
    if (!s.inner) return CommNotConnected;
    const int rc = s.inner->read(buffer, wanted, count);
    const unsigned int got = buffer && count <= wanted ? count : 0;
    // The caller gets the real bytes; the file and the trace get masked ones.
    s.scratch.assign(buffer, buffer + got);
    s.fromTerminal.feed(s.scratch.data(), got, nullptr, nullptr);
    if (rc != CommOk) s.fromTerminal.reset(); // the receiver gives the frame up
    s.recordBytes(ecrlink::comm::Read, wanted, rc, s.scratch.data(), got);
    s.trace("<-", s.scratch.data(), got);
    return rc;
}

int CaptureChannel::write(const unsigned char* data, unsigned int length, unsigned int& count) {
    State& s = *state;
    count = 0;
    if (!s.inner) return CommNotConnected;
    const bool loneEot = length == 1 && data && data[0] == ecrlink::wire::EOT;
    if (s.journaled && !loneEot) {
        if (!s.failed) s.failed = s.gate(data, length) != 0;
        if (s.failed) {
            s.record(ecrlink::comm::Write, 0, CommJournalFailed);
            setLastError(s.file->lastError());
            return CommJournalFailed;
        }
    }
    const int rc = s.inner->write(data, length, count);
    // Only what the line took is recorded as sent.
    const unsigned int sent = data && count <= length ? count : 0;
    s.scratch.assign(data, data + sent);
    s.toTerminal.feed(s.scratch.data(), s.scratch.size(), nullptr, nullptr);
    if (rc != CommOk && rc != CommPartialWrite) s.toTerminal.reset();
    s.recordBytes(ecrlink::comm::Write, sent, rc, s.scratch.data(), s.scratch.size());
    s.trace("->", s.scratch.data(), s.scratch.size());
    if (s.journaled && !loneEot) s.file->wentOut(sent);
    return rc;
}

int CaptureChannel::isOpened() {
    if (state->journaled && state->failed) return CommJournalFailed;
    return state->inner ? state->inner->isOpened() : CommNotConnected;
}

int CaptureChannel::setReadTimeouts(unsigned int first, unsigned int milliseconds) {
    const int rc = state->inner ? state->inner->setReadTimeouts(first, milliseconds) : CommNotConnected;
    state->record(ecrlink::comm::Timeout, milliseconds, rc);
    return rc;
}

int CaptureChannel::flush() {
    const int rc = state->inner ? state->inner->flush() : CommNotConnected;
    state->fromTerminal.reset(); // what was unread is gone
    state->toTerminal.reset();   // a frame starts afresh after a flush
    state->record(ecrlink::comm::Flush, 0, rc);
    return rc;
}

int CaptureChannel::setOpenFlag(bool flag) { return state->inner ? state->inner->setOpenFlag(flag) : CommOk; }

std::string CaptureChannel::lastError() const {
    if (state->journaled && state->failed) return Channel::lastError();
    if (const auto* channel = dynamic_cast<const Channel*>(state->inner)) {
        const std::string reason = channel->lastError();
        if (!reason.empty()) return reason;
    }
    return Channel::lastError();
}

void CaptureChannel::interrupt() {
    if (auto* line = dynamic_cast<Interruptible*>(state->inner)) line->interrupt();
}

void CaptureChannel::resume() {
    if (auto* line = dynamic_cast<Interruptible*>(state->inner)) line->resume();
}

} // namespace Communication
