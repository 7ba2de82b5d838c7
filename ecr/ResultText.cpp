// SPDX-License-Identifier: MIT
#include "ecrlink/ECRProto.h"
#include "ecrlink/TLVMessage.h"
#include "ecrlink/Version.h"

#include "../comm/CommText.h"

using namespace ECRPResult;

const char* ecrlinkResultText(unsigned int code) {
    if (code >= 201 && code <= 207) return aTLVErrors[code - 201];
    if (const char* text = ecrpErrorText(code)) return text;
    switch (code) {
    case OpenNoChannel: return "no channel to open";
    case NoChannel: return "no channel";
    case CheckTerminal: return "check-terminal byte received";
    case ReadOverrun: return "channel delivered more bytes than asked";
    case IdleTimeout: return "no frame from the terminal within the idle time-out";
    case OverallTimeout: return "no final answer within the overall time-out";
    case Cancelled: return "dialogue cancelled";
    case AnswerNotAcknowledged: return "final answer received, its acknowledgement not delivered";
    default: break;
    }
    const char* channelText = Communication::commTextOrNull(static_cast<int>(code));
    return channelText ? channelText : "unknown result code";
}

const char* ecrlinkVersion() { return ECRLINK_VERSION_STRING; }
