// SPDX-License-Identifier: MIT
#pragma once

// Every result code the libraries and the C API return, with its text, in one
// table: the exported tables, the text functions of each library and the C
// API all read it. Constant, so that the exported tables built from it are
// filled before any code of the process runs.

#include "ecrlink/Channel.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/TLVMessage.h"
#include "ecrlink/ecrlink.h"

namespace ecrlink::wire {

/// Where a code comes from. Link codes have their text in aECRPErrors;
/// Protocol codes are link codes that table has no text for.
enum class Space { Channel, Journal, Protocol, Link, Tlv, Dialogue, CApi };

struct Result {
    unsigned int code;
    Space space;
    const char* text;
};

inline constexpr Result Results[] = {
    {Communication::CommOk, Space::Channel, "success"},
    {ECRPResult::OpenNoChannel, Space::Protocol, "no channel to open"},
    {Communication::CommBadAddress, Space::Channel, "malformed channel address"},
    {Communication::CommOpenFailed, Space::Channel, "cannot open the device or socket"},
    {Communication::CommConfigFailed, Space::Channel, "cannot apply the line settings"},
    {Communication::CommNotConnected, Space::Channel, "not connected"},
    {Communication::CommTimeout, Space::Channel, "no data within the read time-out"},
    {Communication::CommIoError, Space::Channel, "input/output error"},
    {Communication::CommBadSpeed, Space::Channel, "line speed not supported"},
    {Communication::CommConnectFailed, Space::Channel, "connection refused or host unreachable"},
    {Communication::CommConnectTimeout, Space::Channel, "connection timed out"},
    {Communication::CommResolveFailed, Space::Channel, "host name not resolved"},
    {Communication::CommBadArgument, Space::Channel, "invalid argument"},
    {Communication::CommWriteTimeout, Space::Channel, "line not writable within the write time-out"},
    {Communication::CommInUse, Space::Channel, "device in use by another program"},
    {Communication::CommInterrupted, Space::Channel, "wait interrupted"},
    {Communication::CommPartialWrite, Space::Channel, "partial write"},
    {Communication::CommJournalFailed, Space::Journal, "the journal cannot be written"},
    {TLVResult::GeneralError, Space::Tlv, "General Error."},
    {TLVResult::InvalidArgument, Space::Tlv, "Invalid Argument."},
    {TLVResult::InvalidOperation, Space::Tlv, "Invalid Operation."},
    {TLVResult::TooSmallBuffer, Space::Tlv, "Too small buffer."},
    {TLVResult::NoValue, Space::Tlv, "No Value."},
    {TLVResult::InvalidSequence, Space::Tlv, "Invalid Sequence."},
    {TLVResult::FormatBroken, Space::Tlv, "Message Format Broken."},
    {301, Space::Link, "General Error."}, // never returned; named only by the exported table
    {ECRPResult::Timeout, Space::Link, "Timeout occurred."},
    {ECRPResult::NoAttempts, Space::Link, "No Receive Attempts."},
    {ECRPResult::EotReceived, Space::Link, "EOT Received."},
    {ECRPResult::NoCheckByte, Space::Link, "No CRC Received."},
    {ECRPResult::NoAck, Space::Link, "No ACK Received."},
    {ECRPResult::UnknownAck, Space::Link, "Unknown ACK received."},
    {ECRPResult::UnknownStart, Space::Link, "Unknown STX received."},
    {ECRPResult::TooBig, Space::Link, "Max Message size exceeded."},
    {ECRPResult::EmptyMessage, Space::Link, "Empty Message."},
    {ECRPResult::BrokenStatus, Space::Link, "Broken status message received"},
    {ECRPResult::StatusMessage, Space::Link, "Status Message received"},
    {ECRPResult::NoChannel, Space::Protocol, "no channel"},
    {ECRPResult::CheckTerminal, Space::Protocol, "check-terminal byte received"},
    {ECRPResult::ReadOverrun, Space::Protocol, "channel delivered more bytes than asked"},
    {ECRPResult::IdleTimeout, Space::Dialogue, "no frame from the terminal within the idle time-out"},
    {ECRPResult::OverallTimeout, Space::Dialogue, "no final answer within the overall time-out"},
    {ECRPResult::Cancelled, Space::Dialogue, "dialogue cancelled"},
    {ECRPResult::AnswerNotAcknowledged, Space::Dialogue, "final answer received, its acknowledgement not delivered"},
    {ECRLINK_OUT_OF_MEMORY, Space::CApi, "out of memory"},
    {ECRLINK_FAILURE, Space::CApi, "unexpected failure inside the library"},
};

inline constexpr const char* UnknownResult = "unknown result code";
inline constexpr const char* UnknownChannelResult = "unknown channel error";

/// The entry of `code`; null for a code no part of the library names.
constexpr const Result* findResult(unsigned int code) {
    for (const Result& r : Results)
        if (r.code == code) return &r;
    return nullptr;
}

/// The text of `code` when it belongs to `space`, else null.
constexpr const char* textIn(unsigned int code, Space space) {
    const Result* r = findResult(code);
    return r && r->space == space ? r->text : nullptr;
}

/// Text of a code of either library (not the C API's own); never null.
const char* libraryText(unsigned int code);
/// Text of a code of the channels and the journal; never null.
const char* channelText(int code);
/// Text of any code, the C API's own included; never null.
const char* anyText(unsigned int code);

} // namespace ecrlink::wire
