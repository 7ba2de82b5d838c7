// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Export.h"
#include "ecrlink/ICommunication.h"

#include <atomic>
#include <string>

namespace Communication {

/// Result codes of the channels of libecrcomm. 0, 105 and 116 are the codes
/// every channel shares; the others are this library's own.
enum CommResult : int {
    CommOk = 0,
    CommBadAddress = 102,     ///< channel address cannot be understood
    CommOpenFailed = 103,     ///< device or socket cannot be opened
    CommConfigFailed = 104,   ///< line settings cannot be applied
    CommNotConnected = 105,   ///< channel not open, or the peer went away
    CommTimeout = 106,        ///< no byte arrived within the read time-out
    CommIoError = 107,        ///< the system reported an input/output error
    CommBadSpeed = 108,       ///< line speed not supported by the system
    CommConnectFailed = 109,  ///< connection refused or host unreachable
    CommConnectTimeout = 110, ///< connection not established in time
    CommResolveFailed = 111,  ///< host name could not be resolved
    CommBadArgument = 112,    ///< invalid argument (null buffer, zero time-out …)
    CommWriteTimeout = 113,   ///< the line took no byte within the write time-out
    CommInUse = 114,          ///< the device is held by another program
    CommInterrupted = 115,    ///< the wait was cut short by interrupt()
    CommPartialWrite = 116,   ///< only part of the data was written
    CommJournalFailed = 117,  ///< the journal cannot be written or synced
};

/// Text of a channel result code; "unknown channel error" for codes not listed.
/// Any thread; never blocks.
ECRLINK_API const char* commErrorText(int code);

/// Base class of every concrete channel. Channels are destroyed through
/// destroyCommIns() or a plain delete of the Channel pointer.
///
/// Besides the byte operations a channel keeps the operating system's reason
/// for its last failure, and its waits can be interrupted from another thread.
/// isOpened() answers for the last write (ICommunication.h): the channels of
/// libecrcomm report a failed write (any result but 0 and 116, CommInterrupted
/// included) until open() or a later write that goes out whole, and 0 right
/// after a write that went out whole; a channel of the application's own
/// keeps that rule too.
/// A channel of the application's own that waits with poll() adds
/// interruptDescriptor() to its poll set and returns CommInterrupted when it
/// becomes readable.
class ECRLINK_API Channel : public ICommunication, public Interruptible {
public:
    Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    virtual ~Channel();

    /// What the system said about the last failure, for example "Permission
    /// denied (is the user in group dialout?)" or "127.0.0.1 port 5000:
    /// Connection refused"; empty when the last open() succeeded and nothing
    /// failed since. From the thread that uses the channel.
    virtual std::string lastError() const;

    /// Any thread, never blocks.
    void interrupt() override;
    /// From the thread that uses the channel; never blocks.
    void resume() override;

protected:
    /// Readable while the channel is interrupted; -1 when the system has no
    /// descriptor to spare (waits then cannot be interrupted).
    int interruptDescriptor();
    /// Records the reason of a failure; `text` replaces the one before.
    void setLastError(std::string text);
    void clearLastError();

private:
    std::atomic<int> wakeFd{-1};
    std::string failure;
};

} // namespace Communication
