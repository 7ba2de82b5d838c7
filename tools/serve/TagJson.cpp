// SPDX-License-Identifier: MIT
#include "serve/TagJson.h"

namespace ecrlink::tool {
namespace TagJson {

namespace {

bool looksSpelled(const std::string& text) {
    for (const char* prefix : {"text:", "u32:", "hex:"})
        if (text.rfind(prefix, 0) == 0) return true;
    return false;
}

} // namespace

std::string spell(const Bytes& value, ByteOrder numberOrder) {
    if (!value.empty() && isPrintable(value.data(), value.size())) {
        std::string plain(value.begin(), value.end());
        return looksSpelled(plain) ? "text:" + plain : plain;
    }
    if (value.size() == 4) return "u32:" + std::to_string(getU32(value.data(), numberOrder));
    return "hex:" + hex(value);
}

std::string hex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

nlohmann::json object(const std::vector<RawTag>& tags, ByteOrder numberOrder, const std::set<std::uint32_t>& masked) {
    nlohmann::json out = nlohmann::json::object();
    for (const RawTag& tag : tags)
        out[std::to_string(tag.number)] =
            masked.count(tag.number) ? std::string(tag.value.size(), '*') : spell(tag.value, numberOrder);
    return out;
}

std::string summary(const std::vector<RawTag>& tags, ByteOrder numberOrder, const std::set<std::uint32_t>& masked) {
    std::string line;
    for (const RawTag& tag : tags)
        line += (line.empty() ? "" : " ") + std::to_string(tag.number) + "=" +
                (masked.count(tag.number) ? std::string(tag.value.size(), '*') : spell(tag.value, numberOrder));
    return line;
}

std::string text(const Bytes& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::uint8_t byte : bytes) {
        if (isPrintable(&byte, 1))
            out += static_cast<char>(byte);
        else
            out += "\xef\xbf\xbd";
    }
    return out;
}

} // namespace TagJson
} // namespace ecrlink::tool
