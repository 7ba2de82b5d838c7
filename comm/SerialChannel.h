// SPDX-License-Identifier: MIT
#pragma once

// Internal to libecrcomm; applications create it from a "serial:" address.

#include "StreamChannel.h"

#include <memory>
#include <string>

namespace ecrlink::comm {

using Communication::StreamChannel;
/// Channel over a serial line (a tty device or a pseudo-terminal): raw 8N1,
/// no flow control unless asked, modem lines ignored. The device is held
/// exclusively while open (TIOCEXCL and an flock() lock), and the line
/// settings found at open() are put back at close().
class SerialChannel : public StreamChannel {
public:
    struct Settings {
        std::string device;               ///< e.g. "/dev/ttyUSB0"
        unsigned int baud = 115200;       ///< bits per second
        bool hardwareFlowControl = false; ///< RTS/CTS
    };

    explicit SerialChannel(Settings settings);
    ~SerialChannel() override;

    /// True when `baud` is a line speed this system can set.
    static bool isSupportedSpeed(unsigned int baud);

    /// 0 when open (also when already open); CommOpenFailed, CommInUse,
    /// CommConfigFailed or CommBadSpeed otherwise.
    int open() override;
    /// Restores the previous line settings and closes; 0 also when closed.
    int close() override;

private:
    const char* lostReason() const override { return "the device hung up"; }
    int refuse(int handle, int rc, std::string reason);

    Settings config;
    struct SavedLine;
    std::unique_ptr<SavedLine> saved;
};

} // namespace ecrlink::comm
