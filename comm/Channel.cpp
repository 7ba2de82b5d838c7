#include "ecrlink/Channel.h"

namespace Communication {

Channel::~Channel() = default;

void destroyCommIns(ICommunication* channel) {
    // Only channels derived from Channel have a destructor we can reach.
    delete dynamic_cast<Channel*>(channel);
}

const char* commErrorText(int code) {
    switch (code) {
    case CommOk: return "success";
    case CommBadAddress: return "malformed channel address";
    case CommOpenFailed: return "cannot open the device or socket";
    case CommConfigFailed: return "cannot apply the line settings";
    case CommNotConnected: return "not connected";
    case CommTimeout: return "no data within the read time-out";
    case CommIoError: return "input/output error";
    case CommBadSpeed: return "line speed not supported";
    case CommConnectFailed: return "connection refused or host unreachable";
    case CommConnectTimeout: return "connection timed out";
    case CommResolveFailed: return "host name not resolved";
    case CommBadArgument: return "invalid argument";
    case CommWriteTimeout: return "line not writable within the write time-out";
    case CommPartialWrite: return "partial write";
    default: return "unknown channel error";
    }
}

} // namespace Communication
