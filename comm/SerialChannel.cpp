// SPDX-License-Identifier: MIT
#include "SerialChannel.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace ecrlink::comm {

using namespace Communication;

struct SerialChannel::SavedLine {
    termios settings;
};

namespace {

struct Speed {
    unsigned int baud;
    speed_t code;
};

// Speeds below 1200 are of no use for a payment terminal; the fast ones exist
// only where the C library defines them.
constexpr Speed Speeds[] = {
    {1200, B1200},     {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},
    {38400, B38400},   {57600, B57600},     {115200, B115200},
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool speedCode(unsigned int baud, speed_t& code) {
    for (const Speed& s : Speeds) {
        if (s.baud == baud) {
            code = s.code;
            return true;
        }
    }
    return false;
}

// Gives the bytes already written a bounded chance to leave before the line
// settings change under them (the last ACK before close() must not be lost).
void drainBriefly(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    int queued = 0;
    while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace

SerialChannel::SerialChannel(Settings settings) : config(std::move(settings)) {}

SerialChannel::~SerialChannel() { close(); }

bool SerialChannel::isSupportedSpeed(unsigned int baud) {
    speed_t code;
    return speedCode(baud, code);
}

int SerialChannel::refuse(int handle, int rc, std::string reason) {
    if (handle >= 0) ::close(handle);
    setLastError(std::move(reason));
    return rc;
}

int SerialChannel::open() {
    if (fd >= 0 && !fdio::hungUp(fd)) {
        forgetWriteFailure();
        return CommOk;
    }
    close(); // a line whose device went away is opened afresh
    speed_t speed;
    if (!speedCode(config.baud, speed)) return refuse(-1, CommBadSpeed, std::to_string(config.baud) + " baud");
    if (config.device.empty()) return refuse(-1, CommOpenFailed, "no device named");

    const int handle = ::open(config.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        const int error = errno;
        if (error == EBUSY) return refuse(-1, CommInUse, std::string(std::strerror(error)) + " (held exclusively)");
        std::string reason = std::strerror(error);
        if (error == EACCES) reason += " (is the user in group dialout?)";
        return refuse(-1, CommOpenFailed, reason);
    }
    // The lock stops a second opener that TIOCEXCL lets through (root does pass it).
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) return refuse(handle, CommInUse, "locked by another program");
        return refuse(handle, CommOpenFailed, std::string("lock: ") + std::strerror(error));
    }

    termios previous{};
    if (::tcgetattr(handle, &previous) != 0) // not a terminal at all
        return refuse(handle, CommConfigFailed, std::string("not a serial line: ") + std::strerror(errno));
    ::ioctl(handle, TIOCEXCL); // later opens fail with EBUSY
    termios raw = previous;
    raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK);
    raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    raw.c_cflag |= CS8 | CLOCAL | CREAD;
    if (config.hardwareFlowControl) raw.c_cflag |= CRTSCTS;
    // poll() does the waiting; read() only takes what is there.
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (::cfsetispeed(&raw, speed) != 0 || ::cfsetospeed(&raw, speed) != 0 ||
        ::tcsetattr(handle, TCSANOW, &raw) != 0) {
        const int error = errno;
        ::ioctl(handle, TIOCNXCL);
        return refuse(handle, CommConfigFailed, std::string("line settings: ") + std::strerror(error));
    }
    // tcsetattr succeeds when any part applies; a driver may quietly keep its
    // old speed.
    termios applied{};
    if (::tcgetattr(handle, &applied) != 0 || ::cfgetospeed(&applied) != speed) {
        ::tcsetattr(handle, TCSANOW, &previous);
        ::ioctl(handle, TIOCNXCL);
        return refuse(handle, CommBadSpeed, std::to_string(config.baud) + " baud not taken by the driver");
    }
    ::tcflush(handle, TCIFLUSH); // whatever was on the line before we came is stale

    saved.reset(new SavedLine{previous});
    attach(handle, fdio::Kind::Other);
    return CommOk;
}

int SerialChannel::close() {
    if (fd >= 0) {
        drainBriefly(fd);
        if (saved) ::tcsetattr(fd, TCSANOW, &saved->settings);
        ::ioctl(fd, TIOCNXCL);
    }
    saved.reset();
    return detach();
}

} // namespace ecrlink::comm
