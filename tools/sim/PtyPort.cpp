// SPDX-License-Identifier: MIT
#include "sim/PtyPort.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace ecrlink::tool {

PtyPort::~PtyPort() {
    close();
}

bool PtyPort::open(std::string& error) {
    close();
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        error = std::string("cannot prepare the pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    path = name;
    slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        close();
        return false;
    }
    termios line{};
    if (::tcgetattr(slave, &line) == 0) {
        ::cfmakeraw(&line);
        ::tcsetattr(slave, TCSANOW, &line);
    }
    const int flags = ::fcntl(master, F_GETFL);
    ::fcntl(master, F_SETFL, flags | O_NONBLOCK);
    return true;
}

void PtyPort::close() {
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
    slave = master = -1;
    path.clear();
}

} // namespace ecrlink::tool
