// SPDX-License-Identifier: MIT
#pragma once

// Waiting, reading and writing on a non-blocking descriptor, shared by the
// channels of libecrcomm. Results are CommResult codes; `error` receives the
// errno behind a failure (0 when there is none, for example on a time-out or
// end of file). Internal: nothing here is exported.

#include <chrono>
#include <cstddef>

#include <sys/types.h>

namespace ecrlink::comm::fdio {

/// How long write() keeps waiting while the line accepts nothing.
constexpr unsigned int WriteStallMs = 2000;
/// How long one write() may take in all, however slowly the line drains.
constexpr unsigned int WriteTotalMs = 10000;

using Clock = std::chrono::steady_clock;

/// How a descriptor is written without raising SIGPIPE.
enum class Kind { Socket, Pipe, Other };

/// Polls for `events` until `deadline`, retrying after signals with the time
/// that is left; `wake` (-1: none) ends the wait once it is readable. Returns
/// the revents, 0 on expiry, Woken, or -1 with errno set.
constexpr int Woken = -2;
int waitFor(int fd, short events, Clock::time_point deadline, int wake = -1);

/// Maps errno of a failed call to CommNotConnected when the device or peer is
/// gone, CommIoError otherwise.
int errnoResult(int error);

/// Reads what has arrived (1 to `wanted` bytes), waiting up to `timeoutMs`
/// only when nothing has; what arrived beyond `wanted` goes on into `spare`
/// (up to `spareSize` bytes), and `extra` tells how much of it did. 0 with
/// `count` > 0; CommTimeout with `count` 0 on expiry; CommNotConnected when
/// the other end is gone (hang-up, end of file); CommInterrupted once `wake`
/// is readable. `tty`: `fd` is a raw terminal line (VMIN and VTIME 0).
/// `waitFirst`: nothing is expected yet, so the first read waits for bytes
/// instead of trying before.
int readAhead(int fd, bool tty, unsigned char* buffer, unsigned int wanted, unsigned char* spare,
              unsigned int spareSize, unsigned int& count, unsigned int& extra, unsigned int timeoutMs, int wake,
              int& error, bool waitFirst = false);

/// One write of up to `length` bytes, never raising SIGPIPE: the system
/// call's result, errno set when it is negative.
ssize_t writeSome(int fd, Kind kind, const unsigned char* data, std::size_t length);

/// Writes the rest of the `length` bytes, from `count` on (those before went
/// out already), waiting for room while needed. 0 when all went out;
/// CommPartialWrite with `count` when the line stalled for `stallMs`, or
/// `totalMs` passed, after it took part; CommWriteTimeout when it took
/// nothing; CommNotConnected when the other end is gone; CommInterrupted.
int writeAll(int fd, Kind kind, const unsigned char* data, unsigned int length, unsigned int& count, int wake,
             int& error, unsigned int stallMs = WriteStallMs, unsigned int totalMs = WriteTotalMs);

/// The revents of `fd` for `events` right now, without waiting; -1 on failure.
int pollNow(int fd, short events);

/// True when poll reports a hang-up or an error on `fd` right now.
bool hungUp(int fd);

} // namespace ecrlink::comm::fdio
