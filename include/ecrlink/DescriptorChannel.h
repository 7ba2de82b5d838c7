#pragma once

#include "ecrlink/Export.h"
#include "ecrlink/StreamChannel.h"

namespace Communication {

/// Channel over a stream descriptor the application already holds: a socket
/// handed over by another process, one end of a socketpair (a terminal
/// simulated in the same process), a pseudo-terminal or a device opened with
/// flags of its own. The channel owns the descriptor from construction on and
/// switches it to non-blocking mode.
class ECRLINK_API DescriptorChannel : public StreamChannel {
public:
    /// Takes ownership of `descriptor`; a negative one gives a channel that is not open.
    explicit DescriptorChannel(int descriptor);
    /// Closes the descriptor.
    ~DescriptorChannel() override;

    /// 0 while the descriptor is usable; CommNotConnected once closed or gone
    /// (a descriptor cannot be opened again).
    int open() override;
    /// Closes the descriptor; 0 also when closed.
    int close() override;
    /// The descriptor, or -1 once closed.
    int descriptor() const { return fd; }
};

} // namespace Communication
