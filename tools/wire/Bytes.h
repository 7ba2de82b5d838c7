// SPDX-License-Identifier: MIT
#pragma once

#include "wire/ByteOrder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ecrlink::tool {

using Bytes = std::vector<std::uint8_t>;

/// The register writes its requests' dump headers most significant byte
/// first and reads answers least significant byte first, so each side of the
/// line has its own order.
using wire::ByteOrder;
using wire::getU32;
using wire::putU32;

/// Decimal digits, or "0x" and hex digits: nothing else (no sign, no space,
/// and a leading zero does not mean octal). False when `text` is no such
/// number or exceeds `max`.
bool parseNumber(const std::string& text, std::uint64_t max, std::uint64_t& out);

/// "02 00 03", "020003" or "0x02,0x00" -> bytes; false with `error` set on
/// anything that is not whole hex pairs.
bool parseHex(const std::string& text, Bytes& out, std::string& error);
/// Bytes as "02 00 03".
std::string toHex(const std::uint8_t* data, std::size_t size);
inline std::string toHex(const Bytes& data) { return toHex(data.data(), data.size()); }

/// True when every byte is printable ASCII, tab or line break.
bool isPrintable(const std::uint8_t* data, std::size_t size);
/// Printable text with line breaks and tabs shown as \n and \t.
std::string escapeText(const std::uint8_t* data, std::size_t size);

/// "STX", "DC2", "ACK", "NAK", "EOT", "BEL", or "byte 05" for any other.
std::string byteName(std::uint8_t byte);

} // namespace ecrlink::tool
