// SPDX-License-Identifier: MIT
#include "wire/TagSpec.h"

namespace ecrlink::tool {

namespace {

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

bool TagSpec::parse(const std::string& text, ByteOrder numberOrder, bool allowEcho, TagSpec& out,
                    std::string& error) {
    out = TagSpec();
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) {
        error = "'" + text + "' is not NUM=VALUE";
        return false;
    }
    std::uint64_t number = 0;
    if (!parseNumber(text.substr(0, eq), 0xFFFFFFFF, number)) {
        error = "'" + text.substr(0, eq) + "' is not a tag number (decimal or 0x hex, at most 0xFFFFFFFF)";
        return false;
    }
    out.tag.number = static_cast<std::uint32_t>(number);
    const std::string value = text.substr(eq + 1);
    if (allowEcho && (value == "echo" || value == "u32:echo")) {
        out.echo = true;
        out.echoNumber = value == "u32:echo";
        return true;
    }
    if (startsWith(value, "u32:")) {
        if (!parseNumber(value.substr(4), 0xFFFFFFFF, number)) {
            error = "'" + value + "' is not a 32-bit unsigned number (decimal or 0x hex)";
            return false;
        }
        putU32(out.tag.value, static_cast<std::uint32_t>(number), numberOrder);
    } else if (startsWith(value, "hex:")) {
        std::string why;
        if (!parseHex(value.substr(4), out.tag.value, why)) {
            error = "tag " + std::to_string(out.tag.number) + ": " + why;
            return false;
        }
    } else {
        const std::string plain = startsWith(value, "text:") ? value.substr(5) : value;
        out.tag.value.assign(plain.begin(), plain.end());
    }
    // A tag without value cannot be dumped.
    if (out.tag.value.empty()) {
        error = "tag " + std::to_string(out.tag.number) + " has an empty value";
        return false;
    }
    return true;
}

} // namespace ecrlink::tool
