#pragma once

#include "ecrlink/Channel.h"
#include "ecrlink/Export.h"

#include <memory>
#include <string>

namespace Communication {

/// Channel over a serial line (a tty device or a pseudo-terminal): raw 8N1,
/// no flow control unless asked, modem lines ignored. The line settings found
/// at open() are put back at close().
class ECRLINK_API SerialChannel : public Channel {
public:
    struct Settings {
        std::string device;               ///< e.g. "/dev/ttyUSB0"
        unsigned int baud = 115200;       ///< bits per second
        bool hardwareFlowControl = false; ///< RTS/CTS
    };

    explicit SerialChannel(Settings settings);
    /// Closes the line, restoring its previous settings.
    ~SerialChannel() override;

    const Settings& settings() const;

    /// True when `baud` is a line speed this system can set.
    static bool isSupportedSpeed(unsigned int baud);

    /// 0 when open (also when already open); CommOpenFailed, CommConfigFailed
    /// or CommBadSpeed otherwise.
    int open() override;
    /// Restores the previous line settings and closes; 0 also when closed.
    int close() override;
    /// Waits up to the read time-out for at least one byte, then returns what
    /// has arrived (up to `wanted`). CommTimeout with `count` 0 on expiry.
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    /// 0 when all went out; CommPartialWrite with `count` when the line stalled.
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    /// 0 when open and the device is present, CommNotConnected otherwise.
    int isOpened() override;
    /// Sets the read time-out in milliseconds (1000 until set); `first` is unused.
    int setReadTimeouts(unsigned int first, unsigned int milliseconds) override;
    /// Discards bytes received and not yet read.
    int flush() override;
    /// Stores the flag; it does not change how the line works.
    int setOpenFlag(bool flag) override;

private:
    int fail(int rc);

    Settings config;
    int fd = -1;
    bool gone = false; // the device disappeared while open
    bool openFlag = false;
    unsigned int readTimeoutMs = 1000;
    struct SavedLine; // the settings found at open(), kept out of this header
    std::unique_ptr<SavedLine> saved;
};

} // namespace Communication
