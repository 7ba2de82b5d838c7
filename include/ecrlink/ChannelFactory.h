#pragma once

#include "ecrlink/Channel.h"
#include "ecrlink/Export.h"

#include <string>

namespace Communication {

/// Creates (does not open) a channel from an address:
///   "serial:DEVICE[?baud=N][&flow=rtscts|none]"  e.g. "serial:/dev/ttyUSB0?baud=115200"
///   "tcp:HOST:PORT[?timeout=MS]"                  e.g. "tcp:192.168.1.20:5000", "tcp:[::1]:5000"
/// The baud rate defaults to 115200, the connect time-out to 5000 ms.
/// On success returns the channel (destroy it with destroyCommIns or delete),
/// sets `rc` to 0 and clears `error`. On a malformed address returns null,
/// sets `rc` to CommBadAddress (CommBadSpeed for a speed the system cannot
/// set) and `error` to a one-line reason.
ECRLINK_API Channel* createChannel(const std::string& address, int& rc, std::string& error);

} // namespace Communication
