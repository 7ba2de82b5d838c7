#include "ResultText.h"

#include "ecrlink/Channel.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/TLVMessage.h"

namespace ecrtool {

std::string resultText(unsigned int code) {
    if (code >= 201 && code <= 207) return aTLVErrors[code - 201];
    if (const char* text = ecrpErrorText(code)) return text;
    switch (code) {
    case ECRPResult::OpenNoChannel: return "no channel to open";
    case ECRPResult::NoChannel: return "no channel";
    case ECRPResult::CheckTerminal: return "check-terminal byte received";
    case ECRPResult::ReadOverrun: return "channel delivered more bytes than asked";
    default: return Communication::commErrorText(static_cast<int>(code));
    }
}

} // namespace ecrtool
