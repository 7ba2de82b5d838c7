// SPDX-License-Identifier: MIT
#include "wire/Bytes.h"

#include "wire/Frame.h"

namespace ecrlink::tool {

namespace {
int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

bool parseNumber(const std::string& text, std::uint64_t max, std::uint64_t& out) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::size_t from = hex ? 2 : 0;
    if (text.size() == from) return false;
    std::uint64_t value = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        const int digit = hex ? nibble(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0) return false;
        value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
        if (value > max) return false;
    }
    out = value;
    return true;
}

bool parseHex(const std::string& text, Bytes& out, std::string& error) {
    out.clear();
    int high = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ':') {
            if (high >= 0) {
                error = "odd number of hex digits before position " + std::to_string(i + 1);
                return false;
            }
            continue;
        }
        // An "0x" prefix is allowed in front of each byte.
        if (high < 0 && c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            ++i;
            continue;
        }
        const int value = nibble(c);
        if (value < 0) {
            error = std::string("not a hex digit: '") + c + "' at position " + std::to_string(i + 1);
            return false;
        }
        if (high < 0) {
            high = value;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + value));
            high = -1;
        }
    }
    if (high >= 0) {
        error = "odd number of hex digits";
        return false;
    }
    return true;
}

std::string toHex(const std::uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        if (i) text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

bool isPrintable(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t c = data[i];
        if (!(c == '\n' || c == '\t' || c == '\r' || (c >= 0x20 && c < 0x7f))) return false;
    }
    return true;
}

std::string escapeText(const std::uint8_t* data, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        switch (data[i]) {
        case '\n': text += "\\n"; break;
        case '\t': text += "\\t"; break;
        case '\r': text += "\\r"; break;
        default: text += static_cast<char>(data[i]);
        }
    }
    return text;
}

std::string byteName(std::uint8_t byte) {
    switch (byte) {
    case wire::STX: return "STX";
    case wire::DC2: return "DC2";
    case wire::ACK: return "ACK";
    case wire::NAK: return "NAK";
    case wire::EOT: return "EOT";
    case wire::BEL: return "BEL";
    default: return "byte " + toHex(&byte, 1);
    }
}

} // namespace ecrlink::tool
