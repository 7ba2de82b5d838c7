// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

/// "02 00 03 01" -> bytes.
Bytes hex(const std::string& text);
/// bytes -> "02 00 03 01".
std::string toHex(const std::uint8_t* data, std::size_t size);
inline std::string toHex(const Bytes& data) { return toHex(data.data(), data.size()); }
/// Lines joined with "; ", for comparing whole transcripts at once.
std::string join(const std::vector<std::string>& lines);
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

/// A frame as the terminal sends it: start byte, length most significant byte first, data, exclusive-or of the data.
Bytes frame(std::uint8_t start, const Bytes& data, bool corruptCheck = false);
/// A tag record as the terminal writes it: number and length least significant byte first, then the value.
Bytes record(std::uint32_t tag, const Bytes& value);
/// A record of a file tag's piece: piece number and count (least significant byte first), then the payload.
Bytes piece(std::uint32_t tag, std::uint32_t number, std::uint32_t count, const Bytes& payload);
inline Bytes piece(std::uint32_t tag, std::uint32_t number, std::uint32_t count, const std::string& payload) {
    return piece(tag, number, count, Bytes(payload.begin(), payload.end()));
}

} // namespace testing_support
