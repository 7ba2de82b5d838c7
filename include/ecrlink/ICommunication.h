#pragma once

#include "ecrlink/Export.h"

namespace Communication {

/// Byte channel to the payment terminal. Result codes are 0 for success,
/// 105 when the channel is not connected and 116 for a partial write; any
/// other value is the implementation's own failure code.
class ICommunication {
public:
    /// Opens the line; 0 when it is open.
    virtual int open() = 0;
    /// Closes the line.
    virtual int close() = 0;
    /// Reads up to `wanted` bytes into `buffer`, waiting at most the read
    /// time-out last set; stores the number of bytes read in `count`.
    virtual int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) = 0;
    /// Writes `length` bytes; 116 with `count` < `length` when only part went out.
    virtual int write(const unsigned char* data, unsigned int length, unsigned int& count) = 0;
    /// 0 when open, 105 when not connected, other values when not usable.
    virtual int isOpened() = 0;
    /// Sets the read time-out in milliseconds; `first` is always 0 from the protocol.
    virtual int setReadTimeouts(unsigned int first, unsigned int milliseconds) = 0;
    /// Discards bytes received but not yet read.
    virtual int flush() = 0;
    /// Passes the application's open flag to the channel.
    virtual int setOpenFlag(bool flag) = 0;

protected:
    ~ICommunication() = default;
};

/// Destroys a channel created by a communication library; null is ignored.
ECRLINK_API void destroyCommIns(ICommunication* channel);

} // namespace Communication
