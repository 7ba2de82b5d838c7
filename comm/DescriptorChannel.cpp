#include "ecrlink/DescriptorChannel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Communication {

namespace {

bool isSocket(int descriptor) {
    struct stat info {};
    return descriptor >= 0 && ::fstat(descriptor, &info) == 0 && S_ISSOCK(info.st_mode);
}

} // namespace

DescriptorChannel::DescriptorChannel(int descriptor) : StreamChannel(isSocket(descriptor)) {
    if (descriptor < 0) return;
    fd = descriptor;
    // Waiting is done with poll(); a read or write must never block on its own.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

DescriptorChannel::~DescriptorChannel() { close(); }

int DescriptorChannel::open() { return isOpened(); }

int DescriptorChannel::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    return CommOk;
}

} // namespace Communication
