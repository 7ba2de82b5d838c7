#pragma once

#include "ecrlink/StreamChannel.h"
#include "ecrlink/Export.h"

#include <memory>
#include <string>

namespace Communication {

/// Channel over a serial line (a tty device or a pseudo-terminal): raw 8N1,
/// no flow control unless asked, modem lines ignored. The line settings found
/// at open() are put back at close().
class ECRLINK_API SerialChannel : public StreamChannel {
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

private:
    Settings config;
    struct SavedLine; // the settings found at open(), kept out of this header
    std::unique_ptr<SavedLine> saved;
};

} // namespace Communication
