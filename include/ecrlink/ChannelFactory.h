// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Channel.h"
#include "ecrlink/Export.h"

#include <string>

namespace Communication {

/// Creates (does not open) a channel from an address:
///   "serial:DEVICE[?baud=N][&flow=rtscts|none]"  e.g. "serial:/dev/serial/by-id/usb-…-if00-port0?baud=115200"
///   "tcp:HOST:PORT[?timeout=MS][&keepalive=S]"    e.g. "tcp:192.168.1.20:5000", "tcp:[::1]:5000"
/// The baud rate defaults to 115200. For TCP, `timeout` bounds name lookup
/// and connecting together (5000 ms by default) and `keepalive` how long a
/// terminal that vanished goes unnoticed (30 s by default, 0 off).
///
/// Serial channels hold the device exclusively while open: a second opener,
/// in this process or another, gets CommInUse. open() blocks for at most the
/// connect time-out (TCP) or half a second (serial); read() waits at most the
/// read time-out, write() at most 2000 ms without progress and 10 s in all;
/// every wait ends early on Channel::interrupt(). A lost line (hang-up, reset,
/// vanished peer) gives its descriptor back at once and reports
/// CommNotConnected; open() then opens the same address again. A write that
/// failed otherwise (CommWriteTimeout, CommIoError, CommInterrupted) is
/// reported by isOpened() until open() (which keeps a line that is still
/// there) or a later write that goes out whole; right after a write that went
/// out whole isOpened() reports 0, also when the peer hung up since. On
/// failure, Channel::lastError() tells the system's reason.
///
/// On success returns the channel (destroy it with destroyCommIns or delete),
/// sets `rc` to 0 and clears `error`. On a malformed address returns null,
/// sets `rc` to CommBadAddress (CommBadSpeed for a speed the system cannot
/// set) and `error` to a one-line reason. Any thread; never blocks.
ECRLINK_API Channel* createChannel(const std::string& address, int& rc, std::string& error);

} // namespace Communication
