// SPDX-License-Identifier: MIT
#include "ecrlink/CaptureChannel.h"

#include "CaptureFormat.h"

#include "ecrlink/ECRProto.h"
#include "ecrlink/Logger.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace Communication {

namespace {

using Clock = std::chrono::steady_clock;

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
    State(ICommunication* line, Options o)
        : inner(line), options(std::move(o)), toTerminal(true, &options.maskedTags),
          fromTerminal(false, &options.maskedTags) {}
    ~State() {
        destroyCommIns(inner);
        if (file >= 0) ::close(file);
    }

    ICommunication* inner;
    Options options;
    // The register writes dump headers most significant byte first and reads
    // the terminal's least significant byte first.
    capture::FrameTracker toTerminal, fromTerminal;
    int file = -1;
    bool started = false;
    Clock::time_point start;
    std::string fileError;
    std::vector<unsigned char> scratch;

    std::uint64_t now() const {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
    }

    void record(capture::Type type, std::uint32_t arg, int value, const unsigned char* payload = nullptr,
                std::uint32_t length = 0) {
        if (file < 0) return;
        const std::vector<unsigned char> bytes = capture::encode(type, arg, value, now(), payload, length);
        // One write per record, so that a crash leaves whole records behind.
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(file, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<std::size_t>(n);
            else if (n < 0 && errno == EINTR) continue;
            else break;
        }
    }

    int begin() {
        if (started) return CommOk;
        start = Clock::now();
        started = true;
        if (options.path.empty()) return CommOk;
        file = ::open(options.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
        if (file < 0) {
            fileError = "capture " + options.path + ": " + std::strerror(errno);
            started = false;
            return CommOpenFailed;
        }
        const auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
        unsigned char stamp[8];
        for (int i = 0; i < 8; ++i) stamp[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(wall) >> (8 * i));
        if (::write(file, capture::Magic, sizeof capture::Magic) == sizeof capture::Magic)
            record(capture::Start, 0, 0, stamp, sizeof stamp);
        return CommOk;
    }

    void trace(const char* arrow, const unsigned char* bytes, std::size_t n) {
        if (options.trace && n > 0) Logger::get().log(Logger::Level(2), hexLine(arrow, bytes, n));
    }
};

CaptureChannel::CaptureChannel(ICommunication* inner, Options options) : state(new State(inner, std::move(options))) {}

CaptureChannel::~CaptureChannel() = default;

int CaptureChannel::open() {
    if (const int rc = state->begin()) {
        setLastError(state->fileError);
        return rc;
    }
    const int rc = state->inner ? state->inner->open() : CommNotConnected;
    state->record(capture::Open, 0, rc);
    return rc;
}

int CaptureChannel::close() {
    const int rc = state->inner ? state->inner->close() : CommOk;
    state->record(capture::Close, 0, rc);
    return rc;
}

int CaptureChannel::read(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    count = 0;
    if (!state->inner) return CommNotConnected;
    const int rc = state->inner->read(buffer, wanted, count);
    const unsigned int got = buffer && count <= wanted ? count : 0;
    // The caller gets the real bytes; the file and the trace get masked ones.
    state->scratch.assign(buffer, buffer + got);
    state->fromTerminal.feed(state->scratch.data(), got, nullptr, nullptr);
    if (rc != CommOk) state->fromTerminal.reset(); // the receiver gives the frame up
    state->record(capture::Read, wanted, rc, state->scratch.data(), got);
    state->trace("<-", state->scratch.data(), got);
    return rc;
}

int CaptureChannel::write(const unsigned char* data, unsigned int length, unsigned int& count) {
    count = 0;
    if (!state->inner) return CommNotConnected;
    // The answer the register acknowledges must be on disk before the ACK leaves.
    if (state->options.journal && state->file >= 0 && length == 1 && data && data[0] == CECRProto::ACK &&
        state->fromTerminal.frameJustEnded()) {
        const int synced = ::fdatasync(state->file) == 0 ? 0 : errno;
        state->record(capture::Sync, 0, synced);
    }
    const int rc = state->inner->write(data, length, count);
    state->scratch.assign(data, data + (data ? length : 0));
    state->toTerminal.feed(state->scratch.data(), state->scratch.size(), nullptr, nullptr);
    if (rc != CommOk && rc != CommPartialWrite) state->toTerminal.reset();
    state->record(capture::Write, count, rc, state->scratch.data(), static_cast<std::uint32_t>(state->scratch.size()));
    state->trace("->", state->scratch.data(), state->scratch.size());
    return rc;
}

int CaptureChannel::isOpened() { return state->inner ? state->inner->isOpened() : CommNotConnected; }

int CaptureChannel::setReadTimeouts(unsigned int first, unsigned int milliseconds) {
    const int rc = state->inner ? state->inner->setReadTimeouts(first, milliseconds) : CommNotConnected;
    state->record(capture::Timeout, milliseconds, rc);
    return rc;
}

int CaptureChannel::flush() {
    const int rc = state->inner ? state->inner->flush() : CommNotConnected;
    state->fromTerminal.reset(); // what was unread is gone
    state->toTerminal.reset();   // a frame starts afresh after a flush
    state->record(capture::Flush, 0, rc);
    return rc;
}

int CaptureChannel::setOpenFlag(bool flag) { return state->inner ? state->inner->setOpenFlag(flag) : CommOk; }

std::string CaptureChannel::lastError() const {
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
