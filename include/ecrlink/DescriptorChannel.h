// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Channel.h"
#include "ecrlink/Export.h"

#include <memory>

namespace Communication {

class StreamChannel;

/// Channel over a stream descriptor the application already holds: a socket
/// handed over by another process, one end of a socketpair (a terminal
/// simulated in the same process), a pipe, a pseudo-terminal or a device
/// opened with flags of its own. The channel owns the descriptor from
/// construction on and switches it to non-blocking mode. Writing to a pipe or
/// socket whose reader has gone gives CommNotConnected, never SIGPIPE.
///
/// Blocking: read() waits at most the read time-out (1000 ms until set);
/// write() waits while the descriptor takes nothing, at most 2000 ms without
/// progress and 10 s in all. Once the other end has gone the descriptor is
/// closed at once. One thread uses the channel; interrupt() may come from any.
class ECRLINK_API DescriptorChannel : public Channel {
public:
    /// Takes ownership of `descriptor`; a negative one gives a channel that is not open.
    explicit DescriptorChannel(int descriptor);
    /// Closes the descriptor.
    ~DescriptorChannel() override;

    /// 0 while the descriptor is usable, forgetting a failed write;
    /// CommNotConnected once closed or gone (a descriptor cannot be opened again).
    int open() override;
    /// Closes the descriptor; 0 also when closed.
    int close() override;
    /// Waits up to the read time-out for at least one byte, then returns what
    /// has arrived (up to `wanted`). CommTimeout with `count` 0 on expiry;
    /// CommNotConnected once the other end has gone; CommInterrupted.
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    /// 0 when all went out; CommPartialWrite with `count` when the line stalled
    /// after taking part, CommWriteTimeout when it took nothing.
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    /// 0 while open and the other end is there; CommNotConnected otherwise;
    /// the failure of the last write (CommWriteTimeout, CommInterrupted ...)
    /// until open() or a later write that goes out whole; 0 right after a
    /// write that went out whole.
    int isOpened() override;
    /// Sets the read time-out in milliseconds; `first` is unused.
    int setReadTimeouts(unsigned int first, unsigned int milliseconds) override;
    /// Discards bytes received and not yet read, without waiting.
    int flush() override;
    /// Stores the flag; it does not change how the channel works.
    int setOpenFlag(bool flag) override;

    std::string lastError() const override;
    void interrupt() override;
    void resume() override;

    /// The descriptor, or -1 once closed or gone.
    int descriptor() const;

private:
    std::unique_ptr<StreamChannel> line;
};

} // namespace Communication
