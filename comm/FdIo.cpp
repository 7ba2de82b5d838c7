#include "FdIo.h"

#include "ecrlink/Channel.h"

#include <cerrno>
#include <chrono>
#include <climits>

#include <poll.h>
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

} // namespace

int waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, remainingMs(deadline));
        if (n > 0) return p.revents;
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

int readSome(int fd, unsigned char* buffer, unsigned int wanted, unsigned int& count, unsigned int timeoutMs) {
    count = 0;
    if (wanted == 0) return CommOk;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int revents = waitFor(fd, POLLIN, deadline);
        if (revents < 0) return errnoResult(errno);
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
        return errnoResult(errno);
    }
}

int writeAll(int fd, bool socket, const unsigned char* data, unsigned int length, unsigned int& count,
             unsigned int stallMs) {
    count = 0;
    const auto stalled = [&] { return count > 0 ? CommPartialWrite : CommWriteTimeout; };
    while (count < length) {
        const ssize_t n = socket ? ::send(fd, data + count, length - count, MSG_NOSIGNAL)
                                 : ::write(fd, data + count, length - count);
        if (n > 0) {
            count += static_cast<unsigned int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errnoResult(errno);
        // No room: wait for some, starting the stall clock afresh each time.
        const int revents = waitFor(fd, POLLOUT, Clock::now() + std::chrono::milliseconds(stallMs));
        if (revents < 0) return errnoResult(errno);
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
