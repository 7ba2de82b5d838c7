#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

/// "02 00 03 01" -> bytes; spaces and colons between pairs are optional.
Bytes hex(const std::string& text);
/// bytes -> "02 00 03 01".
std::string toHex(const std::uint8_t* data, std::size_t size);
inline std::string toHex(const Bytes& data) { return toHex(data.data(), data.size()); }
/// Lines joined with "; ", for comparing whole transcripts at once.
std::string join(const std::vector<std::string>& lines);

/// A frame as the terminal sends it: start byte, length most significant
/// byte first, data, and the exclusive-or of the data.
Bytes frame(std::uint8_t start, const Bytes& data, bool corruptCheck = false);
/// A tag record as the terminal writes it: number and length least
/// significant byte first, then the value.
Bytes record(std::uint32_t tag, const Bytes& value);
/// A piece of a file tag: piece number and count (least significant byte
/// first) followed by the payload, as the value of a record of `tag`.
Bytes piece(std::uint32_t tag, std::uint32_t number, std::uint32_t count, const std::string& payload);

} // namespace testing_support
