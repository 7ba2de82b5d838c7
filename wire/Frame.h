// SPDX-License-Identifier: MIT
#pragma once

// What a frame is on the line, in both directions: start byte, 16-bit length
// (high byte first), data, check byte. The decisions every reader of the line
// makes live here, so that the register, the capture and the tools agree.

#include <cstdint>

namespace ecrlink::wire {

constexpr unsigned char STX = 0x02; ///< data frame
constexpr unsigned char DC2 = 0x12; ///< status frame, sent by the terminal only
constexpr unsigned char ACK = 0x06;
constexpr unsigned char NAK = 0x15;
constexpr unsigned char EOT = 0x04; ///< abort, either side
constexpr unsigned char BEL = 0x07; ///< check-terminal byte

/// Start byte, two length bytes and the check byte around the data.
constexpr unsigned int FrameOverhead = 4;
/// Largest data length the register accepts.
constexpr unsigned int MaxFrameLength = 4096;
/// Largest data length the length field can describe.
constexpr unsigned int MaxFramed = 0xFFFF;

/// What the first byte of a reception announces.
enum class Start { Data, Status, Abort, CheckTerminal, Unknown };

constexpr Start startOf(unsigned char byte) {
    switch (byte) {
    case STX: return Start::Data;
    case DC2: return Start::Status;
    case EOT: return Start::Abort;
    case BEL: return Start::CheckTerminal;
    default: return Start::Unknown;
    }
}

constexpr bool isStartByte(unsigned char byte) { return byte == STX || byte == DC2; }

constexpr unsigned int lengthOf(unsigned char high, unsigned char low) {
    return static_cast<unsigned int>(high) << 8 | low;
}

/// The register's verdict on a received length field.
enum class Length { Empty, Fits, TooBig };

constexpr Length judgeLength(unsigned int length) {
    return length == 0 ? Length::Empty : length > MaxFrameLength ? Length::TooBig : Length::Fits;
}

} // namespace ecrlink::wire
