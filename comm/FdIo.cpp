// SPDX-License-Identifier: MIT
#include "FdIo.h"

#include "ecrlink/Channel.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace ecrlink::comm::fdio {

using namespace Communication;

namespace {

// Milliseconds left until `deadline`, rounded up so that poll never wakes a
// hair early and spins with a zero time-out.
int remainingMs(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

constexpr short Trouble = POLLHUP | POLLERR | POLLNVAL;

// A pipe whose reader has gone raises SIGPIPE on write, and MSG_NOSIGNAL is
// for sockets only: block the signal around the write and take back the one
// the write raised, leaving alone one that was pending already.
ssize_t writePipe(int fd, const unsigned char* data, std::size_t length) {
    sigset_t pipeOnly, previous, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    const ssize_t n = ::write(fd, data, length);
    const int saved = errno;
    if (n < 0 && saved == EPIPE && !wasPending) {
        const timespec zero{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = saved;
    return n;
}

} // namespace

ssize_t writeSome(int fd, Kind kind, const unsigned char* data, std::size_t length) {
    switch (kind) {
    case Kind::Socket: return ::send(fd, data, length, MSG_NOSIGNAL);
    case Kind::Pipe: return writePipe(fd, data, length);
    default: return ::write(fd, data, length);
    }
}

int waitFor(int fd, short events, Clock::time_point deadline, int wake) {
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
        const int n = ::poll(p, wake >= 0 ? 2 : 1, remainingMs(deadline));
        if (n > 0) {
            if (p[1].revents) return Woken;
            return p[0].revents;
        }
        if (n == 0) {
            if (Clock::now() >= deadline) return 0;
            continue; // a very long time-out is polled in slices of INT_MAX ms
        }
        if (errno != EINTR) return -1;
    }
}

int errnoResult(int error) {
    switch (error) {
    case EIO:
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
    case ENXIO:
    case ENODEV:
    case EBADF:
        return CommNotConnected;
    default:
        return CommIoError;
    }
}

int readAhead(int fd, bool tty, unsigned char* buffer, unsigned int wanted, unsigned char* spare,
              unsigned int spareSize, unsigned int& count, unsigned int& extra, unsigned int timeoutMs, int wake,
              int& error, bool waitFirst) {
    count = 0;
    extra = 0;
    error = 0;
    if (wanted == 0) return CommOk;
    iovec parts[2] = {{buffer, wanted}, {spare, spareSize}};
    // The clock is read only once a wait is needed.
    Clock::time_point deadline{};
    bool waited = false;
    int revents = 0;
    for (;;) {
        if (!waitFirst) {
            const ssize_t n = ::readv(fd, parts, spareSize > 0 ? 2 : 1);
            if (n > 0) {
                count = static_cast<unsigned int>(std::min<ssize_t>(n, wanted));
                extra = static_cast<unsigned int>(n - count);
                return CommOk;
            }
            // A raw terminal line that has nothing answers 0 rather than EAGAIN;
            // anything else answering 0 has reached its end: the peer closed.
            if (n == 0 && !tty) return CommNotConnected;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errnoResult(error = errno);
            if (revents & Trouble) return CommNotConnected;
        }
        waitFirst = false;
        if (!waited) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        waited = true;
        revents = waitFor(fd, POLLIN, deadline, wake);
        if (revents == Woken) return CommInterrupted;
        if (revents < 0) return errnoResult(error = errno);
        if (revents == 0) return CommTimeout;
        if (revents & POLLNVAL) return CommNotConnected;
        // Read even on a hang-up: bytes that arrived before it are still due.
    }
}

int writeAll(int fd, Kind kind, const unsigned char* data, unsigned int length, unsigned int& count, int wake,
             int& error, unsigned int stallMs, unsigned int totalMs) {
    error = 0;
    const auto stalled = [&] { return count > 0 ? CommPartialWrite : CommWriteTimeout; };
    // The clock is read only once the line has no room: a write that goes
    // through at once, the usual case, needs no deadline.
    Clock::time_point end{};
    bool waited = false;
    while (count < length) {
        const ssize_t n = writeSome(fd, kind, data + count, length - count);
        if (n > 0) {
            count += static_cast<unsigned int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errnoResult(error = errno);
        // No room: wait for some, the stall clock starting afresh each time,
        // but never past the end of the whole call.
        const Clock::time_point now = Clock::now();
        if (!waited) end = now + std::chrono::milliseconds(totalMs);
        waited = true;
        const Clock::time_point deadline = std::min(end, now + std::chrono::milliseconds(stallMs));
        const int revents = waitFor(fd, POLLOUT, deadline, wake);
        if (revents == Woken) return count > 0 ? CommPartialWrite : CommInterrupted;
        if (revents < 0) return errnoResult(error = errno);
        if (revents == 0) return stalled();
        if ((revents & Trouble) && !(revents & POLLOUT)) return CommNotConnected;
    }
    return CommOk;
}

int pollNow(int fd, short events) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, 0);
        if (n >= 0) return p.revents;
        if (errno != EINTR) return -1;
    }
}

bool hungUp(int fd) {
    const int revents = pollNow(fd, 0);
    return revents < 0 || (revents & Trouble) != 0;
}

} // namespace ecrlink::comm::fdio
