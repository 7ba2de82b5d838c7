// SPDX-License-Identifier: MIT
#pragma once

// Texts of the channel result codes, in one place for commErrorText() here
// and for the library-wide result text of libecrlink. Internal: not installed.

#include "ecrlink/Channel.h"

namespace Communication {

/// Null for a code that is not a channel code of libecrcomm.
inline const char* commTextOrNull(int code) {
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
    case CommInUse: return "device in use by another program";
    case CommInterrupted: return "wait interrupted";
    case CommPartialWrite: return "partial write";
    case CommJournalFailed: return "the journal cannot be written";
    default: return nullptr;
    }
}

} // namespace Communication
