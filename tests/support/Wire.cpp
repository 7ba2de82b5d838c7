#include "support/Wire.h"

#include <cstdio>
#include <stdexcept>

namespace testing_support {

Bytes hex(const std::string& text) {
    Bytes result;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':') continue;
        const int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (v < 0) throw std::invalid_argument("bad hex text: " + text);
        if (high < 0) {
            high = v;
        } else {
            result.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd hex text: " + text);
    return result;
}

std::string toHex(const std::uint8_t* data, std::size_t size) {
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, i ? " %02x" : "%02x", data[i]);
        text += digits;
    }
    return text;
}

std::string join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "; ") + line;
    return text;
}

Bytes frame(std::uint8_t start, const Bytes& data, bool corruptCheck) {
    Bytes out{start, static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size())};
    std::uint8_t check = 0;
    for (std::uint8_t b : data) check ^= b;
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(corruptCheck ? static_cast<std::uint8_t>(check ^ 0x5A) : check);
    return out;
}

static void putLE(Bytes& out, std::uint32_t n) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
}

Bytes record(std::uint32_t tag, const Bytes& value) {
    Bytes out;
    putLE(out, tag);
    putLE(out, static_cast<std::uint32_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes piece(std::uint32_t tag, std::uint32_t number, std::uint32_t count, const std::string& payload) {
    Bytes value;
    putLE(value, number);
    putLE(value, count);
    value.insert(value.end(), payload.begin(), payload.end());
    return record(tag, value);
}

} // namespace testing_support
