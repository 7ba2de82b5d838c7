// SPDX-License-Identifier: MIT
#pragma once

#include "wire/WireDump.h"

#include <string>
#include <vector>

namespace ecrlink::tool {

/// Renders tags for people: a table with number, length, hex, text when
/// printable and the number when the value has 4 bytes, or a one-line summary.
namespace TagTable {

/// `numberOrder`: how the reader of these tags takes a 4-byte value.
/// `rawPieces`: values of the file tags 44 and 85 still carry their
/// 8-byte piece header (true on the wire, false once collected).
std::string table(const std::vector<RawTag>& tags, ByteOrder numberOrder, bool rawPieces,
                  const std::string& indent = "  ");
std::string summary(const std::vector<RawTag>& tags, ByteOrder numberOrder, bool rawPieces);

} // namespace TagTable

} // namespace ecrlink::tool
