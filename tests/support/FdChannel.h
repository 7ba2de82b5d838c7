#pragma once

#include "ecrlink/Channel.h"

#include <utility>

namespace testing_support {

/// A channel over a file descriptor it owns (a socketpair or pseudo-terminal end).
/// Reads wait with poll() for the last time-out set: 106 when nothing came in
/// time, 105 once the peer has gone (and isOpened() says so from then on).
class FdChannel : public Communication::Channel {
public:
    explicit FdChannel(int fd) : descriptor(fd) {}
    ~FdChannel() override { close(); }
    /// Two channels joined by a local stream socketpair.
    static std::pair<FdChannel*, FdChannel*> socketPair();
    /// Every write takes at most `bytes` bytes, answering 116 when that is fewer than asked (0 = no limit).
    void setWriteChunk(unsigned int bytes) { writeChunk = bytes; }
    int fd() const { return descriptor; }

    int open() override { return isOpened(); }
    int close() override;
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    int isOpened() override { return descriptor >= 0 && !lost ? Communication::CommOk : Communication::CommNotConnected; }
    int setReadTimeouts(unsigned int, unsigned int ms) override { timeoutMs = ms; return Communication::CommOk; }
    int flush() override;
    int setOpenFlag(bool) override { return Communication::CommOk; }

private:
    int descriptor; unsigned int timeoutMs = 1000, writeChunk = 0; bool lost = false;  // the peer went away
};

} // namespace testing_support
