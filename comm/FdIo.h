#pragma once

// Waiting, reading and writing on a non-blocking descriptor, shared by the
// serial and the TCP channel. Results are CommResult codes. Internal to
// libecrcomm: nothing here is exported.

#include <chrono>

namespace Communication {
namespace fdio {

/// How long write() keeps waiting while the line accepts nothing.
constexpr unsigned int WriteStallMs = 2000;

using Clock = std::chrono::steady_clock;

/// Polls for `events` until `deadline`, retrying after signals with the time
/// that is left. Returns the revents, 0 on expiry, or -1 with errno set.
int waitFor(int fd, short events, Clock::time_point deadline);

/// Maps errno of a failed call to CommNotConnected when the device or peer is
/// gone, CommIoError otherwise.
int errnoResult(int error);

/// Waits up to `timeoutMs` for something to read, then reads what has arrived
/// (1 to `wanted` bytes). 0 with `count` > 0; CommTimeout with `count` 0 on
/// expiry; CommNotConnected when the other end is gone (hang-up, end of file).
int readSome(int fd, unsigned char* buffer, unsigned int wanted, unsigned int& count, unsigned int timeoutMs);

/// Writes all `length` bytes, waiting for room while needed. 0 when all went
/// out; CommPartialWrite with `count` when the line stalled for `stallMs`
/// after taking part; CommWriteTimeout when it took nothing; CommNotConnected
/// when the other end is gone. Sockets are written without SIGPIPE.
int writeAll(int fd, bool socket, const unsigned char* data, unsigned int length, unsigned int& count,
             unsigned int stallMs = WriteStallMs);

/// True when poll reports a hang-up or an error on `fd` right now.
bool hungUp(int fd);

} // namespace fdio
} // namespace Communication
