// SPDX-License-Identifier: MIT
#include "StreamChannel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace Communication {

StreamChannel::~StreamChannel() { detach(); }

void StreamChannel::attach(int descriptor, fdio::Kind descriptorKind) {
    fd = descriptor;
    kind = descriptorKind;
    tty = ::isatty(descriptor) == 1;
    aheadStart = aheadEnd = 0;
    drained = false;
    writeFailure = CommOk;
    wroteWhole = false;
    clearLastError();
}

int StreamChannel::detach() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    aheadStart = aheadEnd = 0;
    return CommOk;
}

int StreamChannel::keepFailure(int rc, int error, const char* doing) {
    std::string text = doing;
    if (rc == CommInterrupted) text += ": interrupted";
    else if (error != 0) text += std::string(": ") + std::strerror(error);
    else if (rc == CommNotConnected) text += std::string(": ") + lostReason();
    else if (rc == CommWriteTimeout) text += ": the line took nothing for 2000 ms";
    setLastError(std::move(text));
    if (rc == CommNotConnected) detach();
    return rc;
}

int StreamChannel::read(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    // Bytes already read ahead, the usual case within a frame, are served
    // without anything else.
    if (aheadStart < aheadEnd && wanted > 0 && buffer != nullptr && fd >= 0 &&
        !interrupted.load(std::memory_order_acquire)) {
        const unsigned int start = aheadStart;
        const unsigned int n = std::min(wanted, aheadEnd - start);
        if (n == 1) *buffer = ahead[start];
        else std::memcpy(buffer, ahead + start, n);
        aheadStart = start + n;
        count = n;
        return CommOk;
    }
    return readLine(buffer, wanted, count);
}

int StreamChannel::readLine(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    count = 0;
    wroteWhole = false;
    if (fd < 0) return CommNotConnected;
    if (buffer == nullptr && wanted > 0) return CommBadArgument;
    if (wanted == 0) return CommOk;
    if (interrupted.load(std::memory_order_acquire)) return fail(CommInterrupted, 0, "read");
    int error = 0;
    unsigned int extra = 0;
    const int rc = fdio::readAhead(fd, tty, buffer, wanted, ahead, sizeof ahead, count, extra, readTimeoutMs,
                                   interruptDescriptor(), error, drained);
    aheadStart = 0;
    aheadEnd = extra;
    // A read that took less than it had room for emptied the line: until
    // this end writes again, the peer's next bytes are more likely still on
    // their way, and the next read waits first instead of trying in vain.
    drained = rc == CommOk && count + extra < wanted + sizeof ahead;
    return fail(rc, error, "read");
}

int StreamChannel::write(const unsigned char* data, unsigned int length, unsigned int& count) {
    count = 0;
    if (fd < 0) return CommNotConnected;
    wroteWhole = false;
    if (data == nullptr && length > 0) return writeFailure = CommBadArgument;
    // The usual write goes out whole in one system call: the wake-up
    // descriptor and the clock are fetched only when it does not.
    drained = false; // an answer to what goes out now may come at once
    const ssize_t n = length > 0 ? fdio::writeSome(fd, kind, data, length) : 0;
    if (n > 0) count = static_cast<unsigned int>(n);
    if (count == length) {
        wroteWhole = true;
        return writeFailure = CommOk;
    }
    int error = 0;
    int rc = CommOk;
    if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
        rc = fdio::errnoResult(error = errno);
    else
        rc = fdio::writeAll(fd, kind, data, length, count, interruptDescriptor(), error);
    if (rc != CommPartialWrite) writeFailure = rc;
    wroteWhole = rc == CommOk;
    return fail(rc, error, "write");
}

int StreamChannel::isOpened() {
    // Right after a write that went out whole the answer is about that write:
    // a terminal that hangs up once it has our ACK has not lost it.
    if (fd >= 0 && wroteWhole) {
        wroteWhole = false;
        return CommOk;
    }
    const int line = lineState();
    return line == CommOk ? writeFailure : line;
}

int StreamChannel::lineState() {
    if (fd < 0) return CommNotConnected;
    if (kind != fdio::Kind::Socket) return fdio::hungUp(fd) ? fail(CommNotConnected, 0, "line") : CommOk;
    // One poll tells a reset or hang-up, and whether the peer closed its side.
    const int revents = fdio::pollNow(fd, POLLRDHUP);
    if (revents < 0 || (revents & (POLLHUP | POLLERR | POLLNVAL)))
        return fail(CommNotConnected, 0, "line");
    if (!(revents & POLLRDHUP) || aheadStart < aheadEnd) return CommOk;
    // A peer that closed politely shows only as end of file behind any bytes
    // still unread; peeking finds it without taking those bytes.
    unsigned char byte;
    for (;;) {
        const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) return CommOk;
        if (n == 0) return fail(CommNotConnected, 0, "line");
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return CommOk;
        return fail(fdio::errnoResult(errno), errno, "line");
    }
}

int StreamChannel::flush() {
    if (fd < 0) return CommNotConnected;
    wroteWhole = false;
    aheadStart = aheadEnd = 0;
    drained = false;
    if (tty) return ::tcflush(fd, TCIFLUSH) == 0 ? CommOk : fail(fdio::errnoResult(errno), errno, "flush");
    // Bounded, so that a peer that never stops sending cannot hold us here.
    unsigned char sink[4096];
    for (int round = 0; round < 256; ++round) {
        const ssize_t n =
            kind == fdio::Kind::Socket ? ::recv(fd, sink, sizeof sink, MSG_DONTWAIT) : ::read(fd, sink, sizeof sink);
        if (n > 0) continue;
        if (n == 0) return fail(CommNotConnected, 0, "flush");
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return CommOk;
        return fail(fdio::errnoResult(errno), errno, "flush");
    }
    return CommOk;
}

int StreamChannel::setReadTimeouts(unsigned int, unsigned int milliseconds) {
    readTimeoutMs = milliseconds;
    return CommOk;
}

int StreamChannel::setOpenFlag(bool flag) {
    openFlag = flag;
    return CommOk;
}

void StreamChannel::interrupt() {
    interrupted.store(true, std::memory_order_release);
    Channel::interrupt();
}

void StreamChannel::resume() {
    interrupted.store(false, std::memory_order_release);
    Channel::resume();
}

} // namespace Communication
