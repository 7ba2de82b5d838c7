// SPDX-License-Identifier: MIT
#pragma once

#include "wire/WireDump.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace ecrlink::tool {

/// Tags as the API shows them: an object from tag number (decimal, as a
/// string) to the value in the spelling `--tag` reads: plain text when the
/// bytes are printable ("text:" in front when the text itself looks like a
/// spelling), "u32:N" for other 4-byte values, "hex:..." for the rest.
namespace TagJson {

/// `numberOrder`: how the receiver of these tags reads its numbers (the
/// terminal reads the register's most significant byte first, the register
/// the terminal's least significant byte first). Values of `masked` tags are
/// shown as as many '*' as they have bytes.
nlohmann::json object(const std::vector<RawTag>& tags, ByteOrder numberOrder,
                      const std::set<std::uint32_t>& masked = {});

/// "2=PURCHASE 4=u32:1250": the same on one line, for the log.
std::string summary(const std::vector<RawTag>& tags, ByteOrder numberOrder, const std::set<std::uint32_t>& masked);

/// One value, as object() writes it.
std::string spell(const Bytes& value, ByteOrder numberOrder);

/// Bytes as lower-case hex digits, nothing between them.
std::string hex(const Bytes& bytes);

/// Bytes that may not be valid UTF-8, as text for JSON: printable ASCII as
/// it is, every other byte as U+FFFD.
std::string text(const Bytes& bytes);

} // namespace TagJson

} // namespace ecrlink::tool
