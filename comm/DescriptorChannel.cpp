// SPDX-License-Identifier: MIT
#include "ecrlink/DescriptorChannel.h"

#include "StreamChannel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Communication {


namespace {

fdio::Kind kindOf(int descriptor) {
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) return fdio::Kind::Other;
    if (S_ISSOCK(info.st_mode)) return fdio::Kind::Socket;
    if (S_ISFIFO(info.st_mode)) return fdio::Kind::Pipe;
    return fdio::Kind::Other;
}

// The stream over the descriptor handed in; it cannot be opened again.
class HandedLine : public StreamChannel {
public:
    explicit HandedLine(int descriptor) {
        if (descriptor < 0) return;
        // Waiting is done with poll(); a read or write must never block on its own.
        const int flags = ::fcntl(descriptor, F_GETFL);
        if (flags >= 0) ::fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
        attach(descriptor, kindOf(descriptor));
    }
    int open() override {
        forgetWriteFailure();
        return lineState();
    }
    int close() override { return detach(); }

private:
    const char* lostReason() const override { return "the other end has gone"; }
};

} // namespace

DescriptorChannel::DescriptorChannel(int descriptor) : line(new HandedLine(descriptor)) {}

DescriptorChannel::~DescriptorChannel() = default;

int DescriptorChannel::open() { return line->open(); }
int DescriptorChannel::close() { return line->close(); }
int DescriptorChannel::read(unsigned char* buffer, unsigned int wanted, unsigned int& count) {
    return line->read(buffer, wanted, count);
}
int DescriptorChannel::write(const unsigned char* data, unsigned int length, unsigned int& count) {
    return line->write(data, length, count);
}
int DescriptorChannel::isOpened() { return line->isOpened(); }
int DescriptorChannel::setReadTimeouts(unsigned int first, unsigned int milliseconds) {
    return line->setReadTimeouts(first, milliseconds);
}
int DescriptorChannel::flush() { return line->flush(); }
int DescriptorChannel::setOpenFlag(bool flag) { return line->setOpenFlag(flag); }
std::string DescriptorChannel::lastError() const { return line->lastError(); }
void DescriptorChannel::interrupt() { line->interrupt(); }
void DescriptorChannel::resume() { line->resume(); }
int DescriptorChannel::descriptor() const { return line->descriptor(); }

} // namespace Communication
