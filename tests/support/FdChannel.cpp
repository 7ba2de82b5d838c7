#include "support/FdChannel.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using namespace Communication;

namespace testing_support {

FdChannel::FdChannel(int fd) : descriptor(fd) {}

FdChannel::~FdChannel() {
    close();
}

std::pair<FdChannel*, FdChannel*> FdChannel::socketPair() {
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return {nullptr, nullptr};
    return {new FdChannel(fds[0]), new FdChannel(fds[1])};
}

int FdChannel::open() {
    return isOpened();
}

int FdChannel::close() {
    if (descriptor < 0) return CommNotConnected;
    ::close(descriptor);
    descriptor = -1;
    return CommOk;
}

int FdChannel::isOpened() {
    return descriptor >= 0 && !lost ? CommOk : CommNotConnected;
}

int FdChannel::read(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    count = 0;
    if (descriptor < 0) return CommNotConnected;
    if (wanted == 0) return CommOk;
    pollfd p{descriptor, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, static_cast<int>(timeoutMs));
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) return CommTimeout;
    if (ready < 0) return CommIoError;
    ssize_t n;
    do {
        n = ::read(descriptor, buffer, wanted);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        count = static_cast<unsigned int>(n);
        return CommOk;
    }
    // End of stream, or a pty whose other end closed (EIO).
    if (n == 0 || errno == EIO) {
        lost = true;
        return CommNotConnected;
    }
    return CommIoError;
}

int FdChannel::write(const unsigned char* data, unsigned int length, unsigned int& count) {
    count = 0;
    if (descriptor < 0) return CommNotConnected;
    const unsigned int limit = writeChunk && writeChunk < length ? writeChunk : length;
    while (count < limit) {
        ssize_t n = ::send(descriptor, data + count, limit - count, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = ::write(descriptor, data + count, limit - count);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EPIPE && errno != ECONNRESET && errno != EIO) return CommIoError;
            lost = true;
            return CommNotConnected;
        }
        count += static_cast<unsigned int>(n);
    }
    return count < length ? CommPartialWrite : CommOk;
}

int FdChannel::setReadTimeouts(unsigned int, unsigned int milliseconds) {
    timeoutMs = milliseconds;
    return CommOk;
}

int FdChannel::flush() {
    if (descriptor < 0) return CommNotConnected;
    if (::isatty(descriptor)) return ::tcflush(descriptor, TCIFLUSH) == 0 ? CommOk : CommIoError;
    // A socket has no input queue to drop: read whatever is pending without waiting.
    unsigned char sink[256];
    pollfd p{descriptor, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
        if (::read(descriptor, sink, sizeof sink) <= 0) break;
    }
    return CommOk;
}

int FdChannel::setOpenFlag(bool) {
    return CommOk;
}

} // namespace testing_support
