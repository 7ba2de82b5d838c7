#include "ecrlink/StreamChannel.h"

#include "FdIo.h"

#include <cerrno>

#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace Communication {

StreamChannel::StreamChannel(bool socket) : socket(socket) {}

StreamChannel::~StreamChannel() = default;

int StreamChannel::fail(int rc) {
    if (rc == CommNotConnected) gone = true;
    return rc;
}

int StreamChannel::read(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    count = 0;
    if (!usable()) return CommNotConnected;
    if (buffer == nullptr && wanted > 0) return CommBadArgument;
    return fail(fdio::readSome(fd, buffer, wanted, count, readTimeoutMs));
}

int StreamChannel::write(const unsigned char* data, unsigned int length, unsigned int& count) {
    count = 0;
    if (!usable()) return CommNotConnected;
    if (data == nullptr && length > 0) return CommBadArgument;
    return fail(fdio::writeAll(fd, socket, data, length, count));
}

int StreamChannel::isOpened() {
    if (!usable()) return CommNotConnected;
    if (fdio::hungUp(fd)) return fail(CommNotConnected);
    if (!socket) return CommOk;
    // A peer that closed politely shows only as end of file behind any bytes
    // still unread; peeking finds it without taking those bytes.
    unsigned char byte;
    for (;;) {
        const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) return CommOk;
        if (n == 0) return fail(CommNotConnected);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return CommOk;
        return fail(fdio::errnoResult(errno));
    }
}

int StreamChannel::flush() {
    if (!usable()) return CommNotConnected;
    if (::isatty(fd)) return ::tcflush(fd, TCIFLUSH) == 0 ? CommOk : fail(fdio::errnoResult(errno));
    // Bounded, so that a peer that never stops sending cannot hold us here.
    unsigned char sink[4096];
    for (int round = 0; round < 256; ++round) {
        const ssize_t n = socket ? ::recv(fd, sink, sizeof sink, MSG_DONTWAIT) : ::read(fd, sink, sizeof sink);
        if (n > 0) continue;
        if (n == 0) return fail(CommNotConnected);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return CommOk;
        return fail(fdio::errnoResult(errno));
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

} // namespace Communication
