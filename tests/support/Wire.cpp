#include "support/Wire.h"

#include <cstdio>
#include <stdexcept>

namespace testing_support {

Bytes hex(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':') digits += c;
    if (digits.size() % 2 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw std::invalid_argument("bad hex text: " + text);
    Bytes result;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        result.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
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
