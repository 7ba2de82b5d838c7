#include "support/FdChannel.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using namespace Communication;

namespace testing_support {

std::pair<FdChannel*, FdChannel*> FdChannel::socketPair() {
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return {nullptr, nullptr};
    return {new FdChannel(fds[0]), new FdChannel(fds[1])};
}

int FdChannel::close() {
    if (descriptor < 0) return CommNotConnected;
    ::close(std::exchange(descriptor, -1));
    return CommOk;
}

int FdChannel::read(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    count = 0;
    if (descriptor < 0 || wanted == 0) return descriptor < 0 ? CommNotConnected : CommOk;
    pollfd p{descriptor, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&p, 1, static_cast<int>(timeoutMs))) < 0 && errno == EINTR) {}
    if (ready <= 0) return ready == 0 ? CommTimeout : CommIoError;
    ssize_t n;
    while ((n = ::read(descriptor, buffer, wanted)) < 0 && errno == EINTR) {}
    if (n > 0) { count = static_cast<unsigned int>(n); return CommOk; }
    if (n < 0 && errno != EIO) return CommIoError;
    lost = true;  // end of stream, or a pseudo-terminal whose other end closed
    return CommNotConnected;
}

int FdChannel::write(const unsigned char* data, unsigned int length, unsigned int& count) {
    count = 0;
    if (descriptor < 0) return CommNotConnected;
    const unsigned int limit = writeChunk && writeChunk < length ? writeChunk : length;
    while (count < limit) {
        ssize_t n = ::send(descriptor, data + count, limit - count, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = ::write(descriptor, data + count, limit - count);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EPIPE && errno != ECONNRESET && errno != EIO) return CommIoError;
        if (n < 0) { lost = true; return CommNotConnected; }
        count += static_cast<unsigned int>(n);
    }
    return count < length ? CommPartialWrite : CommOk;
}

int FdChannel::flush() {
    if (descriptor < 0) return CommNotConnected;
    if (::isatty(descriptor)) return ::tcflush(descriptor, TCIFLUSH) == 0 ? CommOk : CommIoError;
    unsigned char sink[256];  // a socket has no input queue to drop: read what is pending
    while (::recv(descriptor, sink, sizeof sink, MSG_DONTWAIT) > 0) {}
    return CommOk;
}

} // namespace testing_support
