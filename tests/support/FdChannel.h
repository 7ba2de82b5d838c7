#pragma once

#include "ecrlink/Channel.h"

#include <utility>

namespace testing_support {

/// A channel over a file descriptor (a socketpair end or a pseudo-terminal
/// end). Reads wait with poll() for the last time-out set and return what has
/// arrived; 106 when nothing came in time, 105 once the peer has gone (and
/// isOpened() says so from then on).
class FdChannel : public Communication::Channel {
public:
    /// Takes ownership of `fd`: it is closed by close() or the destructor.
    explicit FdChannel(int fd);
    ~FdChannel() override;

    /// Two channels joined by a local stream socketpair.
    static std::pair<FdChannel*, FdChannel*> socketPair();

    /// Makes every write take at most `bytes` bytes and answer 116 when it
    /// took fewer than asked (0 = no limit), to play a slow line.
    void setWriteChunk(unsigned int bytes) { writeChunk = bytes; }
    int fd() const { return descriptor; }

    int open() override;
    int close() override;
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    int isOpened() override;
    int setReadTimeouts(unsigned int first, unsigned int milliseconds) override;
    int flush() override;
    int setOpenFlag(bool flag) override;

private:
    int descriptor;
    unsigned int timeoutMs = 1000;
    unsigned int writeChunk = 0;
    bool lost = false; // the peer went away
};

} // namespace testing_support
