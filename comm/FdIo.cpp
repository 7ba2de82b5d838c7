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
#include <unistd.h>

namespace Communication {
namespace fdio {

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

ssize_t writeSome(int fd, Kind kind, const unsigned char* data, std::size_t length) {
    switch (kind) {
    case Kind::Socket: return ::send(fd, data, length, MSG_NOSIGNAL);
    case Kind::Pipe: return writePipe(fd, data, length);
    default: return ::write(fd, data, length);
    }
}

} // namespace

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

int readSome(int fd, unsigned char* buffer, unsigned int wanted, unsigned int& count, unsigned int timeoutMs,
             int wake, int& error) {
    count = 0;
    error = 0;
    if (wanted == 0) return CommOk;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int revents = waitFor(fd, POLLIN, deadline, wake);
        if (revents == Woken) return CommInterrupted;
        if (revents < 0) return errnoResult(error = errno);
        if (revents == 0) return CommTimeout;
        if (revents & POLLNVAL) return CommNotConnected;
        // Read even on a hang-up: bytes that arrived before it are still due.
        const ssize_t n = ::read(fd, buffer, wanted);
        if (n > 0) {
            count = static_cast<unsigned int>(n);
            return CommOk;
        }
        if (n == 0) return CommNotConnected; // end of file: the peer closed
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (revents & Trouble) return CommNotConnected;
            continue; // woken for nothing; wait again for the time left
        }
        return errnoResult(error = errno);
    }
}

int writeAll(int fd, Kind kind, const unsigned char* data, unsigned int length, unsigned int& count, int wake,
             int& error, unsigned int stallMs, unsigned int totalMs) {
    count = 0;
    error = 0;
    const auto stalled = [&] { return count > 0 ? CommPartialWrite : CommWriteTimeout; };
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(totalMs);
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
        const Clock::time_point deadline = std::min(end, Clock::now() + std::chrono::milliseconds(stallMs));
        const int revents = waitFor(fd, POLLOUT, deadline, wake);
        if (revents == Woken) return count > 0 ? CommPartialWrite : CommInterrupted;
        if (revents < 0) return errnoResult(error = errno);
        if (revents == 0) return stalled();
        if ((revents & Trouble) && !(revents & POLLOUT)) return CommNotConnected;
    }
    return CommOk;
}

bool hungUp(int fd) {
    for (;;) {
        pollfd p{fd, 0, 0};
        const int n = ::poll(&p, 1, 0);
        if (n >= 0) return (p.revents & Trouble) != 0;
        if (errno != EINTR) return true;
    }
}

} // namespace fdio
} // namespace Communication
