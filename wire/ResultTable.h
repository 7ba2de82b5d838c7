// SPDX-License-Identifier: MIT
#pragma once

// Every result code the libraries and the C API return, with its text, in one
// table: the exported tables, the text functions of each library and the C
// API all read it. Constant, so that the exported tables built from it are
// filled before any code of the process runs. The codes are written out here,
// below every library; each library checks its public names against them
// when it is compiled (allIn).

#include <initializer_list>

namespace ecrlink::wire {

/// The codes every channel shares, whichever library supplies it.
constexpr int ChannelOk = 0;
constexpr int ChannelNotConnected = 105;
constexpr int ChannelPartialWrite = 116;

/// Where a code comes from. Link codes have their text in aECRPErrors;
/// Protocol codes are link codes that table has no text for.
enum class Space { Channel, Journal, Protocol, Link, Tlv, Dialogue, CApi };

struct Result {
    unsigned int code;
    Space space;
    const char* text;
};

inline constexpr Result Results[] = {
    {ChannelOk, Space::Channel, "success"},
    {101, Space::Protocol, "no channel to open"},
    {102, Space::Channel, "malformed channel address"},
    {103, Space::Channel, "cannot open the device or socket"},
    {104, Space::Channel, "cannot apply the line settings"},
    {ChannelNotConnected, Space::Channel, "not connected"},
    {106, Space::Channel, "no data within the read time-out"},
    {107, Space::Channel, "input/output error"},
    {108, Space::Channel, "line speed not supported"},
    {109, Space::Channel, "connection refused or host unreachable"},
    {110, Space::Channel, "connection timed out"},
    {111, Space::Channel, "host name not resolved"},
    {112, Space::Channel, "invalid argument"},
    {113, Space::Channel, "line not writable within the write time-out"},
    {114, Space::Channel, "device in use by another program"},
    {115, Space::Channel, "wait interrupted"},
    {ChannelPartialWrite, Space::Channel, "partial write"},
    {117, Space::Journal, "the journal cannot be written"},
    {201, Space::Tlv, "General Error."},
    {202, Space::Tlv, "Invalid Argument."},
    {203, Space::Tlv, "Invalid Operation."},
    {204, Space::Tlv, "Too small buffer."},
    {205, Space::Tlv, "No Value."},
    {206, Space::Tlv, "Invalid Sequence."},
    {207, Space::Tlv, "Message Format Broken."},
    {301, Space::Link, "General Error."}, // never returned; the exported table's first entry
    {302, Space::Link, "Timeout occurred."},
    {303, Space::Link, "No Receive Attempts."},
    {304, Space::Link, "EOT Received."},
    {305, Space::Link, "No CRC Received."},
    {306, Space::Link, "No ACK Received."},
    {307, Space::Link, "Unknown ACK received."},
    {308, Space::Link, "Unknown STX received."},
    {309, Space::Link, "Max Message size exceeded."},
    {310, Space::Link, "Empty Message."},
    {311, Space::Link, "Broken status message received"},
    {312, Space::Link, "Status Message received"},
    {314, Space::Protocol, "no channel"},
    {315, Space::Protocol, "check-terminal byte received"},
    {317, Space::Protocol, "channel delivered more bytes than asked"},
    {320, Space::Dialogue, "no frame from the terminal within the idle time-out"},
    {321, Space::Dialogue, "no final answer within the overall time-out"},
    {322, Space::Dialogue, "dialogue cancelled"},
    {323, Space::Dialogue, "final answer received, its acknowledgement not delivered"},
    {330, Space::CApi, "out of memory"},
    {331, Space::CApi, "unexpected failure inside the library"},
};

inline constexpr const char* UnknownResult = "unknown result code";
inline constexpr const char* UnknownChannelResult = "unknown channel error";

/// Where `code` stands in Results; -1 for a code no part of the library
/// names. An index, not a pointer, so that it stays a constant expression
/// in every build (the sanitizers' included).
constexpr int indexOf(unsigned int code) {
    for (int i = 0; i < static_cast<int>(sizeof Results / sizeof Results[0]); ++i)
        if (Results[i].code == code) return i;
    return -1;
}

/// The text of `code` when it belongs to `space`, else null.
constexpr const char* textIn(unsigned int code, Space space) {
    const int i = indexOf(code);
    return i >= 0 && Results[i].space == space ? Results[i].text : nullptr;
}

/// True when each of `codes` stands in the table under `space`.
constexpr bool allIn(std::initializer_list<unsigned int> codes, Space space) {
    for (unsigned int code : codes)
        if (!textIn(code, space)) return false;
    return true;
}

/// Text of a code of either library (not the C API's own); never null.
const char* libraryText(unsigned int code);
/// Text of a code of the channels and the journal; never null.
const char* channelText(int code);
/// Text of any code, the C API's own included; never null.
const char* anyText(unsigned int code);

} // namespace ecrlink::wire
