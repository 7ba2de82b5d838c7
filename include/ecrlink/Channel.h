#pragma once

#include "ecrlink/ICommunication.h"

namespace Communication {

/// Result codes of the channels of libecrcomm. 0, 105 and 116 are the codes
/// every channel shares; the others are this library's own.
enum CommResult : int {
    CommOk = 0,
    CommBadAddress = 102,     ///< channel address cannot be understood
    CommOpenFailed = 103,     ///< device or socket cannot be opened
    CommConfigFailed = 104,   ///< line settings cannot be applied
    CommNotConnected = 105,   ///< channel not open, or the peer went away
    CommTimeout = 106,        ///< no byte arrived within the read time-out
    CommIoError = 107,        ///< the system reported an input/output error
    CommBadSpeed = 108,       ///< line speed not supported by the system
    CommConnectFailed = 109,  ///< connection refused or host unreachable
    CommConnectTimeout = 110, ///< connection not established in time
    CommResolveFailed = 111,  ///< host name could not be resolved
    CommBadArgument = 112,    ///< invalid argument (null buffer, zero time-out …)
    CommWriteTimeout = 113,   ///< the line took no byte within the write time-out
    CommPartialWrite = 116,   ///< only part of the data was written
};

/// Text of a channel result code; "unknown channel error" for codes not listed.
ECRLINK_API const char* commErrorText(int code);

/// Base class of every concrete channel. Channels are destroyed through
/// destroyCommIns() or a plain delete of the Channel pointer.
class ECRLINK_API Channel : public ICommunication {
public:
    Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    virtual ~Channel();
};

} // namespace Communication
