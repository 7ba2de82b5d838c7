// SPDX-License-Identifier: MIT
#include "support/Wire.h"

#include <cstdio>
#include <sstream>

namespace testing_support {

Bytes hex(const std::string& text) {
    Bytes result;
    std::istringstream in(text);
    for (std::string pair; in >> pair;) result.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    return result;
}

std::string toHex(const std::uint8_t* data, std::size_t size) {
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < size; ++i) text += (std::snprintf(digits, sizeof digits, " %02x", data[i]), digits);
    return text.empty() ? text : text.substr(1);
}

std::string join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "; ") + line;
    return text;
}

Bytes frame(std::uint8_t start, const Bytes& data, bool corruptCheck) {
    std::uint8_t check = corruptCheck ? 0x5A : 0;
    for (std::uint8_t b : data) check ^= b;
    return Bytes{start, static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size())} + data +
           Bytes{check};
}

static Bytes le(std::uint32_t n) { return {std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(n >> 16), std::uint8_t(n >> 24)}; }

Bytes record(std::uint32_t tag, const Bytes& value) { return le(tag) + le(std::uint32_t(value.size())) + value; }

Bytes piece(std::uint32_t tag, std::uint32_t number, std::uint32_t count, const Bytes& payload) {
    return record(tag, le(number) + le(count) + payload);
}

} // namespace testing_support
