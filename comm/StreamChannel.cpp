#include "ecrlink/StreamChannel.h"

#include "FdIo.h"

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

int StreamChannel::setReadTimeouts(unsigned int, unsigned int milliseconds) {
    readTimeoutMs = milliseconds;
    return CommOk;
}

int StreamChannel::setOpenFlag(bool flag) {
    openFlag = flag;
    return CommOk;
}

} // namespace Communication
